# The certificate authority built into the program (BuiltInCaCertificate),
# and the cryptographic library of the host build.
#
# Release engineers name the DER certificate of their own authority:
#   cmake --preset windows -DVEXEL_CA_CERTIFICATE_DER=/path/to/authority.der
# Without it the build makes a development authority in its own tree
# (development-authority/: authority.der, authority.pem and the private key
# authority.key, which stays there) and embeds that one. Either way the
# certificate is embedded at build time as one constant byte array.

set(VEXEL_CA_CERTIFICATE_DER "" CACHE FILEPATH
    "DER certificate of the authority that signs the installer packages (empty: a development authority made in the build tree)")
set(VEXEL_CA_PRIVATE_KEY "" CACHE FILEPATH
    "PEM private key of VEXEL_CA_CERTIFICATE_DER, only to sign the test packages with it (optional)")

find_program(VEXEL_OPENSSL openssl REQUIRED)

set(VEXEL_DEVELOPMENT_AUTHORITY_DIR ${CMAKE_BINARY_DIR}/development-authority)
if(VEXEL_CA_CERTIFICATE_DER)
  set(vexel_authority_der ${VEXEL_CA_CERTIFICATE_DER})
  set(VEXEL_TEST_AUTHORITY_CERTIFICATE ${VEXEL_CA_CERTIFICATE_DER})
  set(VEXEL_TEST_AUTHORITY_KEY ${VEXEL_CA_PRIVATE_KEY})
else()
  set(vexel_authority_der ${VEXEL_DEVELOPMENT_AUTHORITY_DIR}/authority.der)
  add_custom_command(
    OUTPUT ${vexel_authority_der} ${VEXEL_DEVELOPMENT_AUTHORITY_DIR}/authority.pem
           ${VEXEL_DEVELOPMENT_AUTHORITY_DIR}/authority.key
    COMMAND ${CMAKE_COMMAND} -DOPENSSL=${VEXEL_OPENSSL} -DDIR=${VEXEL_DEVELOPMENT_AUTHORITY_DIR}
            -DCONFIG=${CMAKE_SOURCE_DIR}/cmake/development_authority.cnf
            -P ${CMAKE_SOURCE_DIR}/cmake/MakeDevelopmentAuthority.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/development_authority.cnf ${CMAKE_SOURCE_DIR}/cmake/MakeDevelopmentAuthority.cmake
    COMMENT "Making the development certificate authority"
    VERBATIM)
  set(VEXEL_TEST_AUTHORITY_CERTIFICATE ${VEXEL_DEVELOPMENT_AUTHORITY_DIR}/authority.pem)
  set(VEXEL_TEST_AUTHORITY_KEY ${VEXEL_DEVELOPMENT_AUTHORITY_DIR}/authority.key)
endif()

set(vexel_authority_source ${CMAKE_BINARY_DIR}/generated/builtin_ca_certificate.cpp)
add_custom_command(
  OUTPUT ${vexel_authority_source}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${vexel_authority_der} -DOUTPUT=${vexel_authority_source} -DOPENSSL=${VEXEL_OPENSSL}
          -P ${CMAKE_SOURCE_DIR}/cmake/EmbedCertificate.cmake
  DEPENDS ${vexel_authority_der} ${CMAKE_SOURCE_DIR}/cmake/EmbedCertificate.cmake
  COMMENT "Embedding the built-in certificate authority"
  VERBATIM)
target_sources(vexel_core PRIVATE ${vexel_authority_source})

if(NOT WIN32)
  find_package(OpenSSL REQUIRED)
  target_link_libraries(vexel_platform PUBLIC OpenSSL::Crypto)
endif()
