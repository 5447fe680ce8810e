// Making development signing authorities and signers for trials: an RSA key
// and an X.509 version 3 certificate signed with SHA-256.
#pragma once

#include <string>

#include "tools/publish/certificates.h"

namespace publish {

enum class CertificateKind {
  kAuthority,  // basic constraints critical CA:TRUE; key usage critical keyCertSign, cRLSign
  kSigner,     // basic constraints critical CA:FALSE; key usage critical digitalSignature; code signing
};

struct CertificateRequest {
  CertificateKind kind = CertificateKind::kSigner;
  std::string commonName;
  std::string organization;  // may be empty
  int days = 0;              // validity, from a few minutes ago
  int bits = 2048;           // RSA modulus
  // The issuer and its key; both null for a self-signed certificate.
  X509* issuer = nullptr;
  EVP_PKEY* issuerKey = nullptr;
};

struct IssuedCertificate {
  PrivateKey key;
  Certificate certificate;
};

// A new key and its certificate. The certificate carries a random serial
// number, a subject key identifier, and an authority key identifier naming
// the issuer's key, or the issuer's name and serial number for an issuer
// without a key identifier (the updater finds a certificate's issuer by it).
IssuedCertificate IssueCertificate(const CertificateRequest& request);

// The earliest moment the new certificates are valid, in seconds before
// their making: a publishing machine's clock a little ahead of a client's
// must not make a new package "not yet valid" there.
inline constexpr long kBackdatingSeconds = 5 * 60;

}  // namespace publish
