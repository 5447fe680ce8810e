// The certificate authority built into the program: every installer package
// must be signed by a chain that ends at this certificate.
//
// The bytes are one DER-encoded X.509 certificate, embedded at build time
// (cmake/BuiltInCaCertificate.cmake) from the file the cache variable
// VEXEL_CA_CERTIFICATE_DER names, or, when it names none, from the
// development authority the build makes in its own tree.
#pragma once

#include <cstddef>
#include <cstdint>

extern const std::uint8_t BuiltInCaCertificate[];
extern const std::size_t BuiltInCaCertificateLength;
