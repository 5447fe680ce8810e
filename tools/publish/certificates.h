// Certificates and keys for the publisher's toolkit, on OpenSSL: reading
// them from files (PEM or DER), writing them, and the owners that free them.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace publish {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Certificate = std::unique_ptr<X509, X509Free>;
using PrivateKey = std::unique_ptr<EVP_PKEY, KeyFree>;

// OpenSSL's reason for its latest error, or `fallback`; the error queue is
// emptied.
std::string OpenSslReason(const std::string& fallback);

// Where a passphrase comes from: a file (its first line) or an environment
// variable, as the options name them. Empty: no passphrase.
struct PassphraseSource {
  std::string file;         // --...passphrase-file
  std::string environment;  // --...passphrase-env
  std::string optionStem;   // "--passphrase" or "--issuer-passphrase", for messages
};

// The passphrase the source names, or empty when it names none. Fails when
// both are given, when the file cannot be read, the variable is not set, or
// the passphrase is empty.
std::string ReadPassphrase(const PassphraseSource& source);

// Every certificate in the file: PEM (one or more) or DER (exactly one).
// `what` names the file in failure lines. Fails when it holds none.
std::vector<Certificate> ReadCertificates(const std::string& path, const std::string& what);
// The one certificate of the file; fails when it holds more than one.
Certificate ReadCertificate(const std::string& path, const std::string& what);
// One DER certificate from memory, or null.
Certificate DecodeCertificate(const std::uint8_t* der, std::size_t length);

// The PEM private key of the file, decrypted with `passphrase` when it is
// protected. Fails with a line that tells a missing passphrase from a wrong
// one, and a file that holds no key from both.
PrivateKey ReadPrivateKey(const std::string& path, const std::string& what, const std::string& passphrase,
                          const PassphraseSource& source);

// The DER encoding of a certificate.
std::string CertificateDer(X509* certificate);
// The PEM or DER bytes to write for `path`: DER when the name ends in ".der"
// or ".cer", PEM otherwise.
std::string CertificateFileBytes(X509* certificate, const std::string& path);
// The key as PEM PKCS #8, encrypted with AES-256-CBC under `passphrase`
// unless it is empty.
std::string PrivateKeyPem(EVP_PKEY* key, const std::string& passphrase);

// Whether the certificate carries basic constraints with CA:TRUE, the mark
// the updater requires of every certificate that issues another.
bool IsAuthority(X509* certificate);
// Fails unless `key` is the private key of `certificate`.
void ExpectKeyOf(X509* certificate, EVP_PKEY* key, const std::string& certificatePath, const std::string& keyPath);

// The subject as one line ("CN=..., O=...").
std::string SubjectLine(X509* certificate);
// The end of the validity period, as "2035-06-01 12:00:00 UTC".
std::string NotAfterLine(X509* certificate);

}  // namespace publish
