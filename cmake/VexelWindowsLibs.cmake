# System libraries the Windows adapters link against. Only import libraries
# of DLLs every supported Windows has; crypt32.dll is loaded at run time.
target_link_libraries(vexel_platform PUBLIC winhttp)
include(${CMAKE_SOURCE_DIR}/cmake/VexelRapidxml.cmake)
