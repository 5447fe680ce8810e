# The Windows build's tests, all run under wine in the build's own prefix:
#   vexel_win32_tests.exe  GoogleTest suites of the Win32 adapters
#   tests/e2e/*.py         scenarios against VexelPlayerUpdateService.exe
#
# The prefix is made afresh once per test run by the fixture "wineprefix"
# and shut down by its cleanup; every wine test holds the "wine" lock, so
# they run one at a time.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(VEXEL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VEXEL_E2E_DIR ${CMAKE_SOURCE_DIR}/tests/e2e)

# GoogleTest from Debian's sources, built with the cross compiler.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main gmock gmock_main)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -w)
  endif()
endforeach()

file(GLOB VEXEL_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*.cpp)
# The string table goes in as well, so that the string resource adapter has
# the program's table to read.
add_executable(vexel_win32_tests ${VEXEL_WIN32_TEST_SOURCES} ${VEXEL_FAKE_SOURCES}
  ${CMAKE_SOURCE_DIR}/resources/strings.rc)
target_include_directories(vexel_win32_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(vexel_win32_tests PRIVATE vexel_core vexel_platform gtest gmock gtest_main)
target_link_libraries(vexel_win32_tests PRIVATE vexel_logreader)
target_link_options(vexel_win32_tests PRIVATE -static)

set(VEXEL_HARNESS_ENV
  "VEXEL_WINEPREFIX=${VEXEL_WINEPREFIX}"
  "VEXEL_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "VEXEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "WINEDEBUG=-all"
  "PYTHONDONTWRITEBYTECODE=1")

add_test(NAME wineprefix.create
  COMMAND ${Python3_EXECUTABLE} ${VEXEL_E2E_DIR}/prefix.py create
  WORKING_DIRECTORY ${VEXEL_E2E_DIR})
add_test(NAME wineprefix.shutdown
  COMMAND ${Python3_EXECUTABLE} ${VEXEL_E2E_DIR}/prefix.py shutdown
  WORKING_DIRECTORY ${VEXEL_E2E_DIR})
set_tests_properties(wineprefix.create PROPERTIES FIXTURES_SETUP wineprefix ENVIRONMENT "${VEXEL_HARNESS_ENV}"
  RESOURCE_LOCK wine LABELS wine TIMEOUT 300)
set_tests_properties(wineprefix.shutdown PROPERTIES FIXTURES_CLEANUP wineprefix ENVIRONMENT "${VEXEL_HARNESS_ENV}"
  RESOURCE_LOCK wine LABELS wine TIMEOUT 120)

add_test(NAME win32.adapters
  COMMAND ${Python3_EXECUTABLE} ${VEXEL_E2E_DIR}/prefix.py run-gtest $<TARGET_FILE:vexel_win32_tests>
          --gtest_filter=-WinHttpAgainstServers.*:InstallerAgainstServers.*:ToolkitAgreement.*
  WORKING_DIRECTORY ${VEXEL_E2E_DIR})
set_tests_properties(win32.adapters PROPERTIES FIXTURES_REQUIRED wineprefix ENVIRONMENT "${VEXEL_HARNESS_ENV}"
  RESOURCE_LOCK wine LABELS wine TIMEOUT 600)

# Each scenario file test_*.py is one CTest test.
file(GLOB VEXEL_E2E_SCENARIOS CONFIGURE_DEPENDS ${VEXEL_E2E_DIR}/test_*.py)
foreach(scenario ${VEXEL_E2E_SCENARIOS})
  get_filename_component(module ${scenario} NAME_WE)
  string(REGEX REPLACE "^test_" "" name ${module})
  add_test(NAME e2e.${name}
    COMMAND ${Python3_EXECUTABLE} -m unittest -v ${module}
    WORKING_DIRECTORY ${VEXEL_E2E_DIR})
  set_tests_properties(e2e.${name} PROPERTIES FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "${VEXEL_HARNESS_ENV}" RESOURCE_LOCK wine LABELS wine TIMEOUT 900)
endforeach()
