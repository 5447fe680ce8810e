# Tests of vexel-publish, the publisher's toolkit (tools/publish/).
#
#   host:    vexel_publish_tests runs the program as its users do and checks
#            it against the updater's own code, on the signed-package table
#            and on tables of manifests and of bad input.
#   windows: win32.toolkit_packages signs packages with the host build's
#            vexel-publish under this build's authority and verifies them
#            through crypt32 under wine (tests/win32/toolkit_packages_win32_test.cpp).
if(NOT WIN32)
  file(GLOB VEXEL_PUBLISH_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
  # Only the helpers it uses: the suites in tests/support/*_cases.cpp belong
  # to the programs that instantiate them.
  add_executable(vexel_publish_tests ${VEXEL_PUBLISH_TEST_SOURCES}
    ${CMAKE_SOURCE_DIR}/tests/support/signed_packages.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/temp_dir.cpp
    ${CMAKE_SOURCE_DIR}/tests/fakes/log_capture.cpp)
  target_include_directories(vexel_publish_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(vexel_publish_tests PRIVATE vexel_publish GTest::gtest GTest::gmock GTest::gtest_main)
  add_dependencies(vexel_publish_tests vexel-publish)
  target_compile_definitions(vexel_publish_tests PRIVATE
    VEXEL_PUBLISH_PROGRAM="$<TARGET_FILE:vexel-publish>"
    VEXEL_OPENSSL_PROGRAM="${VEXEL_OPENSSL}"
    VEXEL_BUILD_AUTHORITY_CERTIFICATE="${VEXEL_TEST_AUTHORITY_CERTIFICATE}"
    VEXEL_BUILD_AUTHORITY_KEY="${VEXEL_TEST_AUTHORITY_KEY}")
  gtest_discover_tests(vexel_publish_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX "publish."
    PROPERTIES LABELS host
    FIXTURES_REQUIRED signed_packages ENVIRONMENT "${VEXEL_SIGNED_PACKAGES_ENV}")
endif()

if(WIN32)
  # The toolkit's verdict function, built for Windows, so that crypt32's
  # verdicts are named as the toolkit names them.
  target_sources(vexel_win32_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/publish/package_check.cpp)
  set(VEXEL_HOST_PUBLISH ${CMAKE_SOURCE_DIR}/build/host/tools/publish/vexel-publish CACHE FILEPATH
      "The host build's vexel-publish, whose packages and verdicts the wine test win32.toolkit_agreement checks")
  if(VEXEL_TEST_AUTHORITY_KEY)
    add_test(NAME win32.toolkit_agreement
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/toolkit_wine.py
              --publish ${VEXEL_HOST_PUBLISH}
              --authority-cert ${VEXEL_TEST_AUTHORITY_CERTIFICATE} --authority-key ${VEXEL_TEST_AUTHORITY_KEY}
              --table ${VEXEL_TEST_PKI_DIR}/packages --out ${CMAKE_BINARY_DIR}/toolkit-agreement
              --gtest $<TARGET_FILE:vexel_win32_tests>)
    set_tests_properties(win32.toolkit_agreement PROPERTIES
      FIXTURES_REQUIRED "wineprefix;signed_packages" ENVIRONMENT "${VEXEL_HARNESS_ENV}"
      RESOURCE_LOCK wine LABELS wine SKIP_RETURN_CODE 77 TIMEOUT 600)
  endif()
endif()
