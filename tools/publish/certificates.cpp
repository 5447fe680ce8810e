#include "tools/publish/certificates.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tools/publish/failure.h"
#include "tools/publish/files.h"

namespace publish {
namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

Bio MemoryOf(const std::string& bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) throw Failure("a file too large to be a certificate or key");
  Bio bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) throw Failure("out of memory");
  return bio;
}

std::string Drain(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

bool LooksLikePem(const std::string& bytes) { return bytes.find("-----BEGIN ") != std::string::npos; }

bool EndsWith(const std::string& text, const char* end) {
  const std::size_t n = std::strlen(end);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = text[text.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

// What the PEM reader's passphrase callback was given and whether it was
// asked at all, which tells a protected key from an unprotected one.
struct PassphraseUse {
  const std::string* passphrase;
  bool asked = false;
};

int PassphraseCallback(char* buffer, int size, int /*writing*/, void* user) {
  auto* use = static_cast<PassphraseUse*>(user);
  use->asked = true;
  if (use->passphrase->empty()) return -1;  // never a prompt on the terminal
  if (use->passphrase->size() > static_cast<std::size_t>(size)) return -1;
  std::memcpy(buffer, use->passphrase->data(), use->passphrase->size());
  return static_cast<int>(use->passphrase->size());
}

}  // namespace

std::string OpenSslReason(const std::string& fallback) {
  const unsigned long error = ERR_peek_last_error();
  std::string reason = fallback;
  if (error != 0) {
    const char* text = ERR_reason_error_string(error);
    if (text != nullptr) reason = text;
  }
  ERR_clear_error();
  return reason;
}

std::string ReadPassphrase(const PassphraseSource& source) {
  if (!source.file.empty() && !source.environment.empty()) {
    throw UsageFailure("give " + source.optionStem + "-file or " + source.optionStem + "-env, not both");
  }
  std::string passphrase;
  if (!source.file.empty()) {
    passphrase = ReadWholeFile(source.file, "the passphrase file");
    passphrase = passphrase.substr(0, passphrase.find('\n'));
    if (!passphrase.empty() && passphrase.back() == '\r') passphrase.pop_back();
    if (passphrase.empty()) throw Failure("the passphrase file " + source.file + " begins with an empty line");
  } else if (!source.environment.empty()) {
    const char* value = std::getenv(source.environment.c_str());
    if (value == nullptr) throw Failure("the environment variable " + source.environment + " is not set");
    passphrase = value;
    if (passphrase.empty()) throw Failure("the environment variable " + source.environment + " is empty");
  }
  return passphrase;
}

std::vector<Certificate> ReadCertificates(const std::string& path, const std::string& what) {
  const std::string bytes = ReadWholeFile(path, what);
  std::vector<Certificate> certificates;
  if (LooksLikePem(bytes)) {
    Bio bio = MemoryOf(bytes);
    for (;;) {
      Certificate c(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
      if (!c) break;
      certificates.push_back(std::move(c));
    }
    const unsigned long error = ERR_peek_last_error();
    const bool normalEnd = ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
    if (error != 0 && !normalEnd) {
      throw Failure(what + " " + path + " holds a damaged certificate: " + OpenSslReason("cannot be decoded"));
    }
    ERR_clear_error();
  } else if (!bytes.empty() && bytes.size() <= static_cast<std::size_t>(LONG_MAX)) {
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    Certificate c(d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())));
    ERR_clear_error();
    if (c && cursor == reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {
      certificates.push_back(std::move(c));
    }
  }
  if (certificates.empty()) throw Failure(what + " " + path + " holds no certificate (PEM or DER)");
  return certificates;
}

Certificate ReadCertificate(const std::string& path, const std::string& what) {
  std::vector<Certificate> all = ReadCertificates(path, what);
  if (all.size() != 1)
    throw Failure(what + " " + path + " holds " + std::to_string(all.size()) + " certificates; give one");
  return std::move(all.front());
}

Certificate DecodeCertificate(const std::uint8_t* der, std::size_t length) {
  if (der == nullptr || length == 0 || length > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  const unsigned char* cursor = der;
  Certificate c(d2i_X509(nullptr, &cursor, static_cast<long>(length)));
  ERR_clear_error();
  return c;
}

PrivateKey ReadPrivateKey(const std::string& path, const std::string& what, const std::string& passphrase,
                          const PassphraseSource& source) {
  const std::string bytes = ReadWholeFile(path, what);
  Bio bio = MemoryOf(bytes);
  PassphraseUse use{&passphrase};
  PrivateKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, &PassphraseCallback, &use));
  ERR_clear_error();
  if (key) return key;
  if (use.asked && passphrase.empty()) {
    throw Failure(what + " " + path + " is protected by a passphrase: give it with " + source.optionStem + "-file or " +
                  source.optionStem + "-env");
  }
  if (use.asked) throw Failure("wrong passphrase for " + what + " " + path + " (or the key is damaged)");
  throw Failure(what + " " + path + " holds no PEM private key");
}

std::string CertificateDer(X509* certificate) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate, &der);
  if (length <= 0) throw Failure("cannot encode a certificate: " + OpenSslReason("unknown reason"));
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string CertificateFileBytes(X509* certificate, const std::string& path) {
  if (EndsWith(path, ".der") || EndsWith(path, ".cer")) return CertificateDer(certificate);
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1) {
    throw Failure("cannot encode a certificate: " + OpenSslReason("unknown reason"));
  }
  return Drain(bio.get());
}

std::string PrivateKeyPem(EVP_PKEY* key, const std::string& passphrase) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio) throw Failure("out of memory");
  const EVP_CIPHER* cipher = passphrase.empty() ? nullptr : EVP_aes_256_cbc();
  if (passphrase.size() > static_cast<std::size_t>(INT_MAX)) throw Failure("the passphrase is too long");
  const int ok = PEM_write_bio_PKCS8PrivateKey(bio.get(), key, cipher, passphrase.empty() ? nullptr : passphrase.data(),
                                               static_cast<int>(passphrase.size()), nullptr, nullptr);
  if (ok != 1) throw Failure("cannot encode the private key: " + OpenSslReason("unknown reason"));
  std::string pem = Drain(bio.get());
  // The memory BIO held the key; clear it before it is freed.
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  if (length > 0) OPENSSL_cleanse(data, static_cast<std::size_t>(length));
  return pem;
}

bool IsAuthority(X509* certificate) {
  int critical = 0;
  auto* constraints =
      static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(certificate, NID_basic_constraints, &critical, nullptr));
  ERR_clear_error();
  if (constraints == nullptr) return false;
  const bool authority = constraints->ca != 0;
  BASIC_CONSTRAINTS_free(constraints);
  return authority;
}

void ExpectKeyOf(X509* certificate, EVP_PKEY* key, const std::string& certificatePath, const std::string& keyPath) {
  const int matches = X509_check_private_key(certificate, key);
  ERR_clear_error();
  if (matches != 1) {
    throw Failure("the key " + keyPath + " does not belong to the certificate " + certificatePath);
  }
}

std::string SubjectLine(X509* certificate) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio) return "?";
  X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate), 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  return Drain(bio.get());
}

std::string NotAfterLine(X509* certificate) {
  std::tm tm{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &tm) != 1) return "?";
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

}  // namespace publish
