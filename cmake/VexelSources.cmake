# The libraries and programs of the product.
#
#   vexel_core      the portable logic of every subsystem (app/ ... support/)
#   vexel_platform  the adapters of this build's platform (platform/win32 or platform/posix)
#   VexelPlayerUpdateService.exe (Windows) / vexel-update-service (host)
#
# Sources are picked up by folder, so a new file in a subsystem's folder
# needs no edit here. Files named main*.cpp in platform/<os>/ are program
# entry points and stay out of the libraries.

configure_file(${CMAKE_SOURCE_DIR}/cmake/build_settings.h.in
               ${CMAKE_BINARY_DIR}/generated/build_settings.h @ONLY)

file(GLOB VEXEL_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp
  ${CMAKE_SOURCE_DIR}/service/*.cpp
  ${CMAKE_SOURCE_DIR}/update/*.cpp
  ${CMAKE_SOURCE_DIR}/transfer/*.cpp
  ${CMAKE_SOURCE_DIR}/config/*.cpp
  ${CMAKE_SOURCE_DIR}/task/*.cpp
  ${CMAKE_SOURCE_DIR}/support/*.cpp
  ${CMAKE_SOURCE_DIR}/platform/*.cpp)

file(GLOB VEXEL_PLATFORM_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/platform/${VEXEL_PLATFORM}/*.cpp)
list(FILTER VEXEL_PLATFORM_SOURCES EXCLUDE REGEX "/main[^/]*\\.cpp$")

add_library(vexel_platform STATIC ${VEXEL_PLATFORM_SOURCES})
target_include_directories(vexel_platform PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)

add_library(vexel_core STATIC ${VEXEL_CORE_SOURCES})
target_include_directories(vexel_core PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
# The core reaches the platform only through the interfaces in platform/*.h;
# the default adapter of each interface lives in vexel_platform.
target_link_libraries(vexel_core PUBLIC vexel_platform)
target_link_libraries(vexel_platform PUBLIC vexel_core)

if(WIN32)
  target_compile_definitions(vexel_platform PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600)
  include(${CMAKE_SOURCE_DIR}/cmake/VexelWindowsLibs.cmake OPTIONAL)
  add_executable(VexelPlayerUpdateService
    ${CMAKE_SOURCE_DIR}/platform/win32/main.cpp
    ${CMAKE_SOURCE_DIR}/resources/VexelPlayerUpdateService.rc)
  target_link_options(VexelPlayerUpdateService PRIVATE -municode -mconsole)
  target_link_libraries(VexelPlayerUpdateService PRIVATE vexel_core vexel_platform)
else()
  include(${CMAKE_SOURCE_DIR}/cmake/VexelPosixLibs.cmake OPTIONAL)
  add_executable(vexel-update-service ${CMAKE_SOURCE_DIR}/platform/posix/main.cpp)
  target_link_libraries(vexel-update-service PRIVATE vexel_core vexel_platform)
endif()
include(${CMAKE_SOURCE_DIR}/cmake/BuiltInCaCertificate.cmake)
