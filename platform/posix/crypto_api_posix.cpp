// The cryptographic library of the host build: OpenSSL, linked into the
// program, standing in for crypt32.dll.
//
// There is no library file to load. The adapter answers for one library,
// "crypt32.dll" in its system folder, and hands out as that library's
// entry points the addresses of its own operations below; each operation of
// the interface accepts only the entry point of its own name. Each operation
// restates the CryptoAPI behaviour the interface describes on top of
// OpenSSL's PKCS #7 and X.509 functions.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/crypto_api.h"
#include "platform/last_error.h"
#include "platform/seam.h"

namespace platform {
namespace {

namespace ce = crypto;

// A certificate object: one decoded certificate and the references to it
// (the caller's handles and the sets it belongs to).
struct PosixCertificate {
  X509* x509 = nullptr;
  int references = 0;
};

struct PosixCertificateSet {
  std::vector<PosixCertificate*> members;  // each holds one reference of the set's
};

struct PosixLibrary {
  int loads = 0;
};

PosixLibrary theLibrary;

constexpr wchar_t kSystemFolder[] = L"/usr/lib";
constexpr wchar_t kLibraryName[] = L"crypt32.dll";

Step Fail(ErrorNumber error) {
  ERR_clear_error();
  SetLastError(error);
  return Step::Failure(error);
}

template <class T>
StepOr<T> FailWith(ErrorNumber error) {
  ERR_clear_error();
  SetLastError(error);
  return StepOr<T>::Failure(error);
}

PosixCertificate* Object(CertificateHandle handle) {
  return const_cast<PosixCertificate*>(reinterpret_cast<const PosixCertificate*>(handle));
}
CertificateHandle Handle(PosixCertificate* object) { return reinterpret_cast<CertificateHandle>(object); }
PosixCertificateSet* SetObject(CertificateSetHandle handle) { return reinterpret_cast<PosixCertificateSet*>(handle); }

// A new object holding its own reference to `x509`, with one reference out.
PosixCertificate* NewObject(X509* x509) {
  X509_up_ref(x509);
  return new PosixCertificate{x509, 1};
}

void Release(PosixCertificate* object) {
  if (--object->references == 0) {
    X509_free(object->x509);
    delete object;
  }
}

// The DER bytes as a PKCS #7 message; null (with the error) when they are none.
PKCS7* DecodeMessage(const std::uint8_t* message, std::size_t length, ErrorNumber* error) {
  if (message == nullptr || length == 0) {
    *error = ce::kUnexpectedEnd;
    return nullptr;
  }
  if (length > static_cast<std::size_t>(LONG_MAX)) {
    *error = ce::kInvalidArgument;
    return nullptr;
  }
  const unsigned char* cursor = message;
  PKCS7* p7 = d2i_PKCS7(nullptr, &cursor, static_cast<long>(length));
  if (p7 == nullptr) *error = ce::kBadEncoding;
  return p7;
}

struct MessageOwner {
  PKCS7* p7;
  ~MessageOwner() { PKCS7_free(p7); }
};

// --- The operations (the library's entry points) ---------------------------

Step VerifyMessageSignatureImpl(std::uint32_t encoding, std::uint32_t signerIndex, const std::uint8_t* message,
                                std::size_t length, std::uint8_t* content, std::size_t* contentLength,
                                CertificateHandle* signer) {
  if (signer != nullptr) *signer = nullptr;
  if (encoding != ce::kMessageAndCertificateEncoding || contentLength == nullptr) return Fail(ce::kInvalidArgument);
  ErrorNumber error = 0;
  MessageOwner owner{DecodeMessage(message, length, &error)};
  PKCS7* p7 = owner.p7;
  if (p7 == nullptr) return Fail(error);
  if (!PKCS7_type_is_signed(p7)) return Fail(ce::kInvalidMessageType);
  // Signed data whose content is not carried (a detached signature) has
  // nothing to verify the signature over.
  if (PKCS7_get_detached(p7)) return Fail(ce::kUnexpectedEnd);

  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
  if (infos == nullptr || signerIndex >= static_cast<std::uint32_t>(sk_PKCS7_SIGNER_INFO_num(infos))) {
    return Fail(ce::kNoSigner);
  }
  PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(infos, static_cast<int>(signerIndex));
  // The signer's certificate: the one the message carries under the issuer
  // and serial number the signer names.
  X509* certificate = X509_find_by_issuer_and_serial(p7->d.sign->cert, info->issuer_and_serial->issuer,
                                                     info->issuer_and_serial->serial);
  if (certificate == nullptr) return Fail(ce::kSignerNotFound);

  // Read the content through the digest filters, then check this signer's
  // signature (and the digest its signed attributes record).
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  if (chain == nullptr) return Fail(ce::kBadEncoding);
  std::vector<std::uint8_t> decoded;
  unsigned char buffer[16384];
  for (;;) {
    int n = BIO_read(chain, buffer, sizeof buffer);
    if (n <= 0) break;
    decoded.insert(decoded.end(), buffer, buffer + n);
  }
  int verified = PKCS7_signatureVerify(chain, p7, info, certificate);
  BIO_free_all(chain);
  if (verified <= 0) return Fail(ce::kBadSignature);

  if (content != nullptr) {
    if (*contentLength < decoded.size()) {
      *contentLength = decoded.size();
      return Fail(error::kMoreData);
    }
    if (!decoded.empty()) std::memcpy(content, decoded.data(), decoded.size());
  }
  *contentLength = decoded.size();
  if (signer != nullptr) *signer = Handle(NewObject(certificate));
  ERR_clear_error();
  return Step::Success();
}

StepOr<CertificateSetHandle> GetMessageCertificatesImpl(std::uint32_t encoding, const std::uint8_t* message,
                                                        std::size_t length) {
  if (encoding != ce::kMessageAndCertificateEncoding) return FailWith<CertificateSetHandle>(ce::kInvalidArgument);
  ErrorNumber error = 0;
  MessageOwner owner{DecodeMessage(message, length, &error)};
  if (owner.p7 == nullptr) return FailWith<CertificateSetHandle>(error);
  if (!PKCS7_type_is_signed(owner.p7)) return FailWith<CertificateSetHandle>(ce::kInvalidMessageType);
  auto* set = new PosixCertificateSet;
  STACK_OF(X509)* carried = owner.p7->d.sign->cert;
  for (int i = 0; carried != nullptr && i < sk_X509_num(carried); ++i) {
    set->members.push_back(NewObject(sk_X509_value(carried, i)));
  }
  return StepOr<CertificateSetHandle>::Success(reinterpret_cast<CertificateSetHandle>(set));
}

StepOr<CertificateHandle> CreateCertificateImpl(std::uint32_t encoding, const std::uint8_t* der,
                                                std::size_t length) {
  if (encoding != ce::kMessageAndCertificateEncoding) return FailWith<CertificateHandle>(ce::kInvalidArgument);
  if (der == nullptr || length == 0) return FailWith<CertificateHandle>(ce::kUnexpectedEnd);
  if (length > static_cast<std::size_t>(LONG_MAX)) return FailWith<CertificateHandle>(ce::kInvalidArgument);
  const unsigned char* cursor = der;
  X509* x509 = d2i_X509(nullptr, &cursor, static_cast<long>(length));
  if (x509 == nullptr) return FailWith<CertificateHandle>(ce::kBadEncoding);
  if (cursor != der + length) {
    X509_free(x509);
    return FailWith<CertificateHandle>(ce::kBadEncoding);
  }
  return StepOr<CertificateHandle>::Success(Handle(new PosixCertificate{x509, 1}));
}

// The key identifier CryptoAPI gives a certificate: its subject key
// identifier, or else the SHA-1 digest of its encoded public key information.
std::vector<std::uint8_t> KeyIdentifier(X509* x509) {
  const ASN1_OCTET_STRING* ski = X509_get0_subject_key_id(x509);
  if (ski != nullptr) {
    const unsigned char* data = ASN1_STRING_get0_data(ski);
    return std::vector<std::uint8_t>(data, data + ASN1_STRING_length(ski));
  }
  unsigned char* spki = nullptr;
  int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509), &spki);
  if (n <= 0) return {};
  std::vector<std::uint8_t> digest(SHA_DIGEST_LENGTH);
  SHA1(spki, static_cast<std::size_t>(n), digest.data());
  OPENSSL_free(spki);
  return digest;
}

bool SameBytes(const ASN1_OCTET_STRING* a, const std::vector<std::uint8_t>& b) {
  return static_cast<std::size_t>(ASN1_STRING_length(a)) == b.size() &&
         std::memcmp(ASN1_STRING_get0_data(a), b.data(), b.size()) == 0;
}

// The directory name among general names, or null.
X509_NAME* DirectoryName(GENERAL_NAMES* names) {
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
    GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
    if (name->type == GEN_DIRNAME) return name->d.directoryName;
  }
  return nullptr;
}

StepOr<CertificateHandle> FindIssuerOfImpl(CertificateSetHandle setHandle, std::uint32_t encoding,
                                           CertificateHandle subjectHandle) {
  PosixCertificateSet* set = SetObject(setHandle);
  if (set == nullptr || subjectHandle == nullptr || encoding != ce::kMessageAndCertificateEncoding) {
    return FailWith<CertificateHandle>(ce::kInvalidArgument);
  }
  X509* subject = Object(subjectHandle)->x509;
  int critical = 0;
  auto* keyId = static_cast<AUTHORITY_KEYID*>(
      X509_get_ext_d2i(subject, NID_authority_key_identifier, &critical, nullptr));
  PosixCertificate* match = nullptr;
  if (keyId != nullptr) {
    X509_NAME* issuerOfIssuer = DirectoryName(keyId->issuer);
    for (PosixCertificate* candidate : set->members) {
      bool matches = false;
      if (issuerOfIssuer != nullptr && keyId->serial != nullptr) {
        matches = X509_NAME_cmp(X509_get_issuer_name(candidate->x509), issuerOfIssuer) == 0 &&
                  ASN1_INTEGER_cmp(X509_get0_serialNumber(candidate->x509), keyId->serial) == 0;
      } else if (keyId->keyid != nullptr) {
        matches = SameBytes(keyId->keyid, KeyIdentifier(candidate->x509));
      }
      if (matches) {
        match = candidate;
        break;
      }
    }
    AUTHORITY_KEYID_free(keyId);
  } else {
    for (PosixCertificate* candidate : set->members) {
      if (X509_NAME_cmp(X509_get_subject_name(candidate->x509), X509_get_issuer_name(subject)) == 0) {
        match = candidate;
        break;
      }
    }
  }
  if (match == nullptr) return FailWith<CertificateHandle>(ce::kNotFound);
  ++match->references;
  ERR_clear_error();
  return StepOr<CertificateHandle>::Success(Handle(match));
}

Step VerifySubjectCertificateImpl(CertificateHandle subjectHandle, CertificateHandle issuerHandle,
                                  std::uint32_t* flags) {
  constexpr std::uint32_t kKnown = ce::kSignatureCheck | ce::kTimeValidityCheck;
  if (subjectHandle == nullptr || flags == nullptr || (*flags & ~kKnown) != 0) return Fail(ce::kInvalidArgument);
  if ((*flags & ce::kSignatureCheck) != 0 && issuerHandle == nullptr) return Fail(ce::kInvalidArgument);
  X509* subject = Object(subjectHandle)->x509;
  if ((*flags & ce::kSignatureCheck) != 0) {
    EVP_PKEY* key = X509_get0_pubkey(Object(issuerHandle)->x509);
    if (key != nullptr && X509_verify(subject, key) == 1) *flags &= ~ce::kSignatureCheck;
  }
  if ((*flags & ce::kTimeValidityCheck) != 0) {
    // Valid from notBefore up to notAfter, both included.
    bool started = X509_cmp_current_time(X509_get0_notBefore(subject)) < 0;
    bool ended = X509_cmp_current_time(X509_get0_notAfter(subject)) < 0;
    if (started && !ended) *flags &= ~ce::kTimeValidityCheck;
  }
  ERR_clear_error();
  return Step::Success();
}

Step FreeCertificateImpl(CertificateHandle handle) {
  if (handle == nullptr) return Step::Success();
  PosixCertificate* object = Object(handle);
  if (object->references <= 0) return Fail(ce::kInvalidArgument);
  Release(object);
  return Step::Success();
}

Step CloseCertificateSetImpl(CertificateSetHandle handle) {
  PosixCertificateSet* set = SetObject(handle);
  if (set == nullptr) return Step::Success();
  for (PosixCertificate* member : set->members) Release(member);
  delete set;
  return Step::Success();
}

StepOr<CertificateExtension> FindExtensionImpl(const char* oid, CertificateHandle handle) {
  if (oid == nullptr || handle == nullptr) return FailWith<CertificateExtension>(ce::kInvalidArgument);
  ASN1_OBJECT* object = OBJ_txt2obj(oid, 1);
  if (object == nullptr) return FailWith<CertificateExtension>(ce::kInvalidArgument);
  X509* x509 = Object(handle)->x509;
  int index = X509_get_ext_by_OBJ(x509, object, -1);
  ASN1_OBJECT_free(object);
  if (index < 0) return FailWith<CertificateExtension>(ce::kNotFound);
  X509_EXTENSION* extension = X509_get_ext(x509, index);
  const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
  CertificateExtension result;
  result.critical = X509_EXTENSION_get_critical(extension) != 0;
  const unsigned char* bytes = ASN1_STRING_get0_data(data);
  result.value.assign(bytes, bytes + ASN1_STRING_length(data));
  return StepOr<CertificateExtension>::Success(std::move(result));
}

StepOr<BasicConstraints> DecodeBasicConstraintsImpl(std::uint32_t encoding, const std::vector<std::uint8_t>& value) {
  if (encoding != ce::kMessageAndCertificateEncoding) return FailWith<BasicConstraints>(ce::kInvalidArgument);
  if (value.empty()) return FailWith<BasicConstraints>(ce::kUnexpectedEnd);
  const unsigned char* cursor = value.data();
  BASIC_CONSTRAINTS* decoded = d2i_BASIC_CONSTRAINTS(nullptr, &cursor, static_cast<long>(value.size()));
  if (decoded == nullptr) return FailWith<BasicConstraints>(ce::kBadEncoding);
  BasicConstraints result;
  bool ok = cursor == value.data() + value.size();
  result.certificateAuthority = decoded->ca != 0;
  if (ok && decoded->pathlen != nullptr) {
    std::int64_t limit = 0;
    ok = ASN1_INTEGER_get_int64(&limit, decoded->pathlen) == 1 && limit >= 0 && limit <= 0xFFFFFFFFll;
    result.hasPathLengthLimit = true;
    result.pathLengthLimit = static_cast<std::uint32_t>(limit);
  }
  BASIC_CONSTRAINTS_free(decoded);
  if (!ok) return FailWith<BasicConstraints>(ce::kBadEncoding);
  return StepOr<BasicConstraints>::Success(result);
}

struct NamedEntryPoint {
  const char* name;
  EntryPoint entry;
};

const NamedEntryPoint kExports[] = {
    {"CryptVerifyMessageSignature", reinterpret_cast<EntryPoint>(&VerifyMessageSignatureImpl)},
    {"CryptGetMessageCertificates", reinterpret_cast<EntryPoint>(&GetMessageCertificatesImpl)},
    {"CertCreateCertificateContext", reinterpret_cast<EntryPoint>(&CreateCertificateImpl)},
    {"CertFindCertificateInStore", reinterpret_cast<EntryPoint>(&FindIssuerOfImpl)},
    {"CertVerifySubjectCertificateContext", reinterpret_cast<EntryPoint>(&VerifySubjectCertificateImpl)},
    {"CertFreeCertificateContext", reinterpret_cast<EntryPoint>(&FreeCertificateImpl)},
    {"CertCloseStore", reinterpret_cast<EntryPoint>(&CloseCertificateSetImpl)},
    {"CertFindExtension", reinterpret_cast<EntryPoint>(&FindExtensionImpl)},
    {"CryptDecodeObject", reinterpret_cast<EntryPoint>(&DecodeBasicConstraintsImpl)},
};

// Whether `entry` is the export of that name.
bool IsExport(EntryPoint entry, const char* name) {
  for (const NamedEntryPoint& row : kExports) {
    if (std::strcmp(row.name, name) == 0) return entry != nullptr && entry == row.entry;
  }
  return false;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

class OpenSslCryptoApi final : public CryptoApi {
 public:
  StepOr<std::wstring> SystemFolder() override { return StepOr<std::wstring>::Success(kSystemFolder); }

  StepOr<LibraryHandle> LoadLibraryFromPath(const std::wstring& path) override {
    const std::wstring folder = std::wstring(kSystemFolder) + L"/";
    if (path.compare(0, folder.size(), folder) != 0 || !EqualsIgnoringCase(path.substr(folder.size()), kLibraryName)) {
      SetLastError(ce::kModuleNotFound);
      return StepOr<LibraryHandle>::Failure(ce::kModuleNotFound);
    }
    ++theLibrary.loads;
    return StepOr<LibraryHandle>::Success(reinterpret_cast<LibraryHandle>(&theLibrary));
  }

  Step UnloadLibrary(LibraryHandle library) override {
    if (library != reinterpret_cast<LibraryHandle>(&theLibrary) || theLibrary.loads <= 0) {
      SetLastError(error::kInvalidHandle);
      return Step::Failure(error::kInvalidHandle);
    }
    --theLibrary.loads;
    return Step::Success();
  }

  StepOr<EntryPoint> GetEntryPoint(LibraryHandle library, const char* name) override {
    if (library != reinterpret_cast<LibraryHandle>(&theLibrary) || theLibrary.loads <= 0) {
      SetLastError(error::kInvalidHandle);
      return StepOr<EntryPoint>::Failure(error::kInvalidHandle);
    }
    for (const NamedEntryPoint& row : kExports) {
      if (name != nullptr && std::strcmp(row.name, name) == 0) return StepOr<EntryPoint>::Success(row.entry);
    }
    SetLastError(ce::kProcedureNotFound);
    return StepOr<EntryPoint>::Failure(ce::kProcedureNotFound);
  }

  Step VerifyMessageSignature(EntryPoint entry, std::uint32_t encoding, std::uint32_t signerIndex,
                              const std::uint8_t* message, std::size_t length, std::uint8_t* content,
                              std::size_t* contentLength, CertificateHandle* signer) override {
    if (!IsExport(entry, "CryptVerifyMessageSignature")) return Fail(ce::kInvalidArgument);
    return VerifyMessageSignatureImpl(encoding, signerIndex, message, length, content, contentLength, signer);
  }

  StepOr<CertificateSetHandle> GetMessageCertificates(EntryPoint entry, std::uint32_t encoding,
                                                       const std::uint8_t* message, std::size_t length) override {
    if (!IsExport(entry, "CryptGetMessageCertificates")) return FailWith<CertificateSetHandle>(ce::kInvalidArgument);
    return GetMessageCertificatesImpl(encoding, message, length);
  }

  StepOr<CertificateHandle> CreateCertificate(EntryPoint entry, std::uint32_t encoding, const std::uint8_t* der,
                                              std::size_t length) override {
    if (!IsExport(entry, "CertCreateCertificateContext")) return FailWith<CertificateHandle>(ce::kInvalidArgument);
    return CreateCertificateImpl(encoding, der, length);
  }

  StepOr<CertificateHandle> FindIssuerOf(EntryPoint entry, CertificateSetHandle set, std::uint32_t encoding,
                                         CertificateHandle subject) override {
    if (!IsExport(entry, "CertFindCertificateInStore")) return FailWith<CertificateHandle>(ce::kInvalidArgument);
    return FindIssuerOfImpl(set, encoding, subject);
  }

  Step VerifySubjectCertificate(EntryPoint entry, CertificateHandle subject, CertificateHandle issuer,
                                std::uint32_t* flags) override {
    if (!IsExport(entry, "CertVerifySubjectCertificateContext")) return Fail(ce::kInvalidArgument);
    return VerifySubjectCertificateImpl(subject, issuer, flags);
  }

  Step FreeCertificate(EntryPoint entry, CertificateHandle certificate) override {
    if (!IsExport(entry, "CertFreeCertificateContext")) return Fail(ce::kInvalidArgument);
    return FreeCertificateImpl(certificate);
  }

  Step CloseCertificateSet(EntryPoint entry, CertificateSetHandle set) override {
    if (!IsExport(entry, "CertCloseStore")) return Fail(ce::kInvalidArgument);
    return CloseCertificateSetImpl(set);
  }

  StepOr<CertificateExtension> FindExtension(EntryPoint entry, const char* oid,
                                             CertificateHandle certificate) override {
    if (!IsExport(entry, "CertFindExtension")) return FailWith<CertificateExtension>(ce::kInvalidArgument);
    return FindExtensionImpl(oid, certificate);
  }

  StepOr<BasicConstraints> DecodeBasicConstraints(EntryPoint entry, std::uint32_t encoding,
                                                  const std::vector<std::uint8_t>& value) override {
    if (!IsExport(entry, "CryptDecodeObject")) return FailWith<BasicConstraints>(ce::kInvalidArgument);
    return DecodeBasicConstraintsImpl(encoding, value);
  }
};

}  // namespace

template <>
CryptoApi& PlatformDefault<CryptoApi>() {
  static OpenSslCryptoApi api;
  return api;
}

}  // namespace platform
