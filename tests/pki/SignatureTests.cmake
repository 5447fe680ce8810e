# The test PKI and the signed packages, made at test time by make_pki.py
# with the build's authority (CTest fixture "signed_packages"). The tests
# find them through the test-only environment variable VEXEL_TEST_PACKAGES:
# VEXEL_SIGNED_PACKAGES_ENV holds the assignment for the host, and
# VEXEL_SIGNED_PACKAGES_WINE_ENV the same folder as wine's Z: drive sees it.
# A build given an authority without its key makes no packages; the tests
# that need them are skipped then.
set(VEXEL_SIGNED_PACKAGES_ENV "")
set(VEXEL_SIGNED_PACKAGES_WINE_ENV "")
if(VEXEL_TEST_AUTHORITY_KEY)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(VEXEL_TEST_PKI_DIR ${CMAKE_BINARY_DIR}/test-pki)
  add_test(NAME signed_packages.make
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_pki.py
            --authority-cert ${VEXEL_TEST_AUTHORITY_CERTIFICATE} --authority-key ${VEXEL_TEST_AUTHORITY_KEY}
            --openssl ${VEXEL_OPENSSL} --out ${VEXEL_TEST_PKI_DIR})
  set_tests_properties(signed_packages.make PROPERTIES FIXTURES_SETUP signed_packages TIMEOUT 300
    ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1")
  set(VEXEL_SIGNED_PACKAGES_ENV "VEXEL_TEST_PACKAGES=${VEXEL_TEST_PKI_DIR}/packages")
  set(VEXEL_SIGNED_PACKAGES_WINE_ENV "VEXEL_TEST_PACKAGES=Z:${VEXEL_TEST_PKI_DIR}/packages")
endif()

# With an authority key the packages are made, and a table test that does not
# find them fails instead of skipping.
if(VEXEL_TEST_AUTHORITY_KEY)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/../support/signed_packages.cpp PROPERTIES
    COMPILE_DEFINITIONS VEXEL_TEST_PACKAGES_MADE=1)
endif()

# crypt32.dll is loaded at run time from the system folder only: neither
# the program nor the adapter tests may import it.
if(WIN32)
  find_program(VEXEL_OBJDUMP NAMES ${CMAKE_OBJDUMP} i686-w64-mingw32-objdump REQUIRED)
  foreach(target VexelPlayerUpdateService vexel_win32_tests)
    add_test(NAME imports.${target}
      COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VEXEL_OBJDUMP} -DFILE=$<TARGET_FILE:${target}> -DFORBIDDEN=crypt32.dll
              -P ${CMAKE_CURRENT_LIST_DIR}/CheckImports.cmake)
  endforeach()
endif()
