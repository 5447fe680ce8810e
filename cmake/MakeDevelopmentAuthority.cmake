# Makes the development certificate authority in DIR with OPENSSL:
# a self-signed 2048-bit RSA certificate signed with SHA-256, marked as a CA,
# valid for ten years from now, and its private key. Run by the build
# (cmake/BuiltInCaCertificate.cmake); the key never leaves the build tree.
foreach(v OPENSSL DIR CONFIG)
  if(NOT ${v})
    message(FATAL_ERROR "MakeDevelopmentAuthority: ${v} not given")
  endif()
endforeach()

file(MAKE_DIRECTORY ${DIR})
set(partial ${DIR}/partial)
file(REMOVE ${partial}.key ${partial}.pem ${partial}.der)

execute_process(
  COMMAND ${OPENSSL} req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 -config ${CONFIG}
          -keyout ${partial}.key -out ${partial}.pem
  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "MakeDevelopmentAuthority: openssl req failed: ${err}")
endif()
execute_process(
  COMMAND ${OPENSSL} x509 -in ${partial}.pem -outform DER -out ${partial}.der
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "MakeDevelopmentAuthority: openssl x509 failed: ${err}")
endif()

file(RENAME ${partial}.key ${DIR}/authority.key)
file(RENAME ${partial}.pem ${DIR}/authority.pem)
file(RENAME ${partial}.der ${DIR}/authority.der)
