# Libraries the POSIX adapters link against.
find_package(CURL REQUIRED)
target_link_libraries(vexel_platform PUBLIC CURL::libcurl)
include(${CMAKE_SOURCE_DIR}/cmake/VexelRapidxml.cmake)
