# Writes OUTPUT, the C++ source that defines BuiltInCaCertificate and its
# length, from the DER certificate INPUT. With OPENSSL given, the file is
# first checked to be a DER certificate.
foreach(v INPUT OUTPUT)
  if(NOT ${v})
    message(FATAL_ERROR "EmbedCertificate: ${v} not given")
  endif()
endforeach()
if(NOT EXISTS ${INPUT})
  message(FATAL_ERROR "EmbedCertificate: ${INPUT} does not exist")
endif()
if(OPENSSL)
  execute_process(COMMAND ${OPENSSL} x509 -inform DER -in ${INPUT} -noout
                  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "EmbedCertificate: ${INPUT} is not a DER certificate: ${err}")
  endif()
endif()

file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR length "${digits} / 2")
if(length EQUAL 0)
  message(FATAL_ERROR "EmbedCertificate: ${INPUT} is empty")
endif()
# Twelve bytes a line.
set(bytes "")
set(at 0)
while(at LESS digits)
  string(SUBSTRING "${hex}" ${at} 24 line)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " line "${line}")
  string(STRIP "${line}" line)
  string(APPEND bytes "    ${line}\n")
  math(EXPR at "${at} + 24")
endwhile()
get_filename_component(name ${INPUT} NAME)

set(text "// Generated at build time from ${name} by cmake/EmbedCertificate.cmake. Do not edit.
#include \"transfer/builtin_ca_certificate.h\"

const std::uint8_t BuiltInCaCertificate[] = {
${bytes}};
const std::size_t BuiltInCaCertificateLength = ${length};
static_assert(sizeof BuiltInCaCertificate == ${length}, \"the embedded certificate's length\");
")
file(WRITE ${OUTPUT}.partial "${text}")
file(RENAME ${OUTPUT}.partial ${OUTPUT})
