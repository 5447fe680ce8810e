#include "tools/publish/signing.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs7.h>

#include <climits>

#include "tools/publish/failure.h"

namespace publish {
namespace {

struct Pkcs7Free {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};

[[noreturn]] void Fail(const std::string& doing) {
  throw Failure("cannot " + doing + ": " + OpenSslReason("unknown reason"));
}

}  // namespace

std::string SignPackage(const std::string& content, X509* signer, EVP_PKEY* key, const std::vector<X509*>& chain) {
  if (content.size() > static_cast<std::size_t>(INT_MAX)) throw Failure("the installer is larger than 2 GiB");
  std::unique_ptr<BIO, BioFree> data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  if (!data) throw Failure("out of memory");

  constexpr int kFlags = PKCS7_BINARY;
  // Built in the order openssl smime -sign builds it: the signer (with its
  // certificate), then the further certificates, then the content.
  std::unique_ptr<PKCS7, Pkcs7Free> p7(PKCS7_sign(nullptr, nullptr, nullptr, data.get(), kFlags | PKCS7_PARTIAL));
  if (!p7) Fail("start the signed message");
  if (PKCS7_sign_add_signer(p7.get(), signer, key, EVP_sha256(), kFlags) == nullptr) Fail("add the signer");
  for (X509* certificate : chain) {
    if (X509_cmp(certificate, signer) == 0) continue;  // carried once already
    if (PKCS7_add_certificate(p7.get(), certificate) != 1) Fail("add a certificate of the chain");
  }
  if (PKCS7_final(p7.get(), data.get(), kFlags) != 1) Fail("sign the installer");

  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(p7.get(), &der);
  if (length <= 0) Fail("encode the package");
  std::string package(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  ERR_clear_error();
  return package;
}

}  // namespace publish
