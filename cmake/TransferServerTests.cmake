# The host's libcurl adapter against the local transfer test servers
# (tests/e2e/servers.py), which run for this one test on free ports and tell
# the test program where they are. Under wine the same servers run in the
# scenario tests/e2e/test_transfer_servers.py, on ports 443 and 80.
if(NOT WIN32)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME transfer.curl_servers
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/servers.py run --lifetime 300 --slow-interval 1
            -- $<TARGET_FILE:vexel_host_tests> --gtest_filter=CurlAgainstServers.*)
  set_tests_properties(transfer.curl_servers PROPERTIES LABELS host TIMEOUT 320)
endif()
