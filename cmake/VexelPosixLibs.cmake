# Libraries the adapters in platform/posix link against.
# Keep each subsystem's lines together.

# Transfer: libcurl for the manifest and the packages, and the header-only
# rapidxml.
find_package(CURL REQUIRED)
target_link_libraries(vexel_platform PUBLIC CURL::libcurl)
include(${CMAKE_SOURCE_DIR}/cmake/VexelRapidxml.cmake)
