# Windows system libraries the adapters in platform/win32 link against.
# Keep each subsystem's lines together.

# Scheduled task: the COM runtime, BSTR and VARIANT functions, and the class
# and interface identifiers of both task scheduler generations.
target_link_libraries(vexel_platform PUBLIC ole32 oleaut32 uuid taskschd)

# Transfer: WinHTTP for the manifest and the packages (crypt32.dll is loaded
# at run time, never linked), and the header-only rapidxml.
target_link_libraries(vexel_platform PUBLIC winhttp)
include(${CMAKE_SOURCE_DIR}/cmake/VexelRapidxml.cmake)

# Installer download: GUIDs and their text (CoCreateGuid, StringFromGUID2).
target_link_libraries(vexel_platform PUBLIC ole32)
