#include "tools/publish/authority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include "tools/publish/failure.h"

namespace publish {
namespace {

struct NameFree {
  void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};
struct BignumFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};

[[noreturn]] void Fail(const std::string& doing) {
  throw Failure("cannot " + doing + ": " + OpenSslReason("unknown reason"));
}

void AddNameEntry(X509_NAME* name, const char* field, const std::string& value) {
  if (value.empty()) return;
  if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value.data()),
                                 static_cast<int>(value.size()), -1, 0) != 1) {
    Fail(std::string("use the name ") + field + "=" + value);
  }
}

void AddExtension(X509V3_CTX& context, X509* certificate, int nid, const char* value) {
  std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
    Fail(std::string("add the extension ") + OBJ_nid2sn(nid) + " " + value);
  }
}

}  // namespace

IssuedCertificate IssueCertificate(const CertificateRequest& request) {
  if ((request.issuer == nullptr) != (request.issuerKey == nullptr)) {
    throw Failure("an issuer needs both its certificate and its key");
  }
  IssuedCertificate issued;
  issued.key.reset(EVP_RSA_gen(static_cast<unsigned int>(request.bits)));
  if (!issued.key) Fail("make an RSA key");

  issued.certificate.reset(X509_new());
  X509* x = issued.certificate.get();
  if (x == nullptr || X509_set_version(x, 2) != 1) Fail("make a certificate");

  // A positive random serial number of up to 127 bits.
  std::unique_ptr<BIGNUM, BignumFree> serial(BN_new());
  if (!serial || BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(x)) == nullptr) {
    Fail("make a serial number");
  }

  std::unique_ptr<X509_NAME, NameFree> subject(X509_NAME_new());
  if (!subject) Fail("make a name");
  AddNameEntry(subject.get(), "O", request.organization);
  AddNameEntry(subject.get(), "CN", request.commonName);
  if (X509_set_subject_name(x, subject.get()) != 1) Fail("set the subject");
  X509* issuer = request.issuer != nullptr ? request.issuer : x;
  if (X509_set_issuer_name(x, request.issuer != nullptr ? X509_get_subject_name(request.issuer) : subject.get()) != 1) {
    Fail("set the issuer");
  }

  if (X509_gmtime_adj(X509_getm_notBefore(x), -kBackdatingSeconds) == nullptr ||
      X509_time_adj_ex(X509_getm_notAfter(x), request.days, 0, nullptr) == nullptr) {
    Fail("set the validity period");
  }
  if (X509_set_pubkey(x, issued.key.get()) != 1) Fail("set the public key");

  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, x, nullptr, nullptr, 0);
  if (request.kind == CertificateKind::kAuthority) {
    AddExtension(context, x, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(context, x, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(context, x, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(context, x, NID_key_usage, "critical,digitalSignature");
    AddExtension(context, x, NID_ext_key_usage, "codeSigning");
  }
  AddExtension(context, x, NID_subject_key_identifier, "hash");
  // The issuer's key identifier; for an issuer that has none, its name and
  // serial number. A self-signed certificate names its own key.
  AddExtension(context, x, NID_authority_key_identifier, request.issuer != nullptr ? "keyid,issuer" : "keyid:always");

  EVP_PKEY* signingKey = request.issuerKey != nullptr ? request.issuerKey : issued.key.get();
  if (X509_sign(x, signingKey, EVP_sha256()) <= 0) Fail("sign the certificate");
  ERR_clear_error();
  return issued;
}

}  // namespace publish
