#include "transfer/signature_verifier.h"

#include <new>
#include <utility>

#include "platform/last_error.h"
#include "platform/path_separator.h"
#include "platform/seam.h"

namespace {

using platform::CertificateHandle;
using platform::CertificateSetHandle;
using platform::CryptoApi;
using platform::ErrorNumber;
namespace crypto = platform::crypto;

constexpr std::uint32_t kEncoding = crypto::kMessageAndCertificateEncoding;
constexpr std::uint32_t kSubjectChecks = crypto::kSignatureCheck | crypto::kTimeValidityCheck;

// The longest chain the message may carry, in certificates from the signer
// up to the top of the chain, both included. The walk makes at most this many
// issuer look-ups; an issuer found at the last of them would be certificate
// number kLongestChain + 1, and the verification fails. Legitimate chains
// are a handful of certificates long; the bound also ends a walk through
// certificates that name each other as issuer, which would otherwise never
// reach a top.
constexpr int kLongestChain = 32;

struct EntryPointRow {
  const char* name;
  platform::EntryPoint CryptoApiBinding::*slot;
};

// The order of look-up: the six operations of the check itself, then the
// ones that release the message's certificate set and read an issuer's basic
// constraints.
constexpr EntryPointRow kEntryPoints[] = {
    {"CryptVerifyMessageSignature", &CryptoApiBinding::verifyMessageSignature},
    {"CryptGetMessageCertificates", &CryptoApiBinding::getMessageCertificates},
    {"CertCreateCertificateContext", &CryptoApiBinding::createCertificateContext},
    {"CertFindCertificateInStore", &CryptoApiBinding::findCertificateInStore},
    {"CertVerifySubjectCertificateContext", &CryptoApiBinding::verifySubjectCertificateContext},
    {"CertFreeCertificateContext", &CryptoApiBinding::freeCertificateContext},
    {"CertCloseStore", &CryptoApiBinding::closeStore},
    {"CertFindExtension", &CryptoApiBinding::findExtension},
    {"CryptDecodeObject", &CryptoApiBinding::decodeObject},
};

// Keeps the thread's last error across a release, so that the number a
// failure left stays for the caller to log.
class LastErrorKept {
 public:
  LastErrorKept() : saved_(platform::LastError()) {}
  ~LastErrorKept() { platform::SetLastError(saved_); }

 private:
  ErrorNumber saved_;
};

// One reference to a certificate object, released exactly once.
class CertificateReference {
 public:
  explicit CertificateReference(const CryptoApiBinding& binding) : binding_(&binding) {}
  ~CertificateReference() { Reset(); }
  CertificateReference(const CertificateReference&) = delete;
  CertificateReference& operator=(const CertificateReference&) = delete;

  CertificateHandle Get() const { return handle_; }
  void Reset(CertificateHandle handle = nullptr) {
    if (handle_ != nullptr) {
      LastErrorKept kept;
      platform::Seam<CryptoApi>::Get().FreeCertificate(binding_->freeCertificateContext, handle_);
    }
    handle_ = handle;
  }
  // This reference takes over the one `other` held.
  void TakeFrom(CertificateReference& other) {
    Reset(other.handle_);
    other.handle_ = nullptr;
  }

 private:
  const CryptoApiBinding* binding_;
  CertificateHandle handle_ = nullptr;
};

// The message's certificate set, closed once.
class CertificateSet {
 public:
  explicit CertificateSet(const CryptoApiBinding& binding) : binding_(&binding) {}
  ~CertificateSet() {
    if (handle_ != nullptr) {
      LastErrorKept kept;
      platform::Seam<CryptoApi>::Get().CloseCertificateSet(binding_->closeStore, handle_);
    }
  }
  CertificateSet(const CertificateSet&) = delete;
  CertificateSet& operator=(const CertificateSet&) = delete;

  CertificateSetHandle Get() const { return handle_; }
  void Set(CertificateSetHandle handle) { handle_ = handle; }

 private:
  const CryptoApiBinding* binding_;
  CertificateSetHandle handle_ = nullptr;
};

// Checks `subject` against `issuer`: its signature with the issuer's key and
// its validity period now. A check left failed sets the last error.
bool SubjectChecksOut(const CryptoApiBinding& binding, CertificateHandle subject, CertificateHandle issuer) {
  std::uint32_t flags = kSubjectChecks;
  if (!platform::Seam<CryptoApi>::Get().VerifySubjectCertificate(binding.verifySubjectCertificateContext, subject,
                                                                 issuer, &flags)) {
    return false;
  }
  if ((flags & crypto::kSignatureCheck) != 0) {
    platform::SetLastError(crypto::kCertificateSignature);
    return false;
  }
  if ((flags & crypto::kTimeValidityCheck) != 0) {
    platform::SetLastError(crypto::kCertificateExpired);
    return false;
  }
  return true;
}

// Whether `issuer` may have issued the certificate below it: it carries the
// basic-constraints extension marking it as a certificate authority, and a
// path-length limit it states is not exceeded by the `intermediatesBelow`
// authority certificates between it and the signer. (Self-issued
// certificates among them are counted too; signing chains have none.)
bool MayIssue(const CryptoApiBinding& binding, CertificateHandle issuer, int intermediatesBelow) {
  CryptoApi& api = platform::Seam<CryptoApi>::Get();
  platform::StepOr<platform::CertificateExtension> extension =
      api.FindExtension(binding.findExtension, crypto::kBasicConstraintsOid, issuer);
  if (!extension) {
    platform::SetLastError(crypto::kNotAnAuthority);
    return false;
  }
  platform::StepOr<platform::BasicConstraints> constraints =
      api.DecodeBasicConstraints(binding.decodeObject, kEncoding, extension.value.value);
  if (!constraints) return false;
  if (!constraints.value.certificateAuthority) {
    platform::SetLastError(crypto::kNotAnAuthority);
    return false;
  }
  if (constraints.value.hasPathLengthLimit &&
      static_cast<std::uint32_t>(intermediatesBelow) > constraints.value.pathLengthLimit) {
    platform::SetLastError(crypto::kPathTooLong);
    return false;
  }
  return true;
}

}  // namespace

bool LoadSystemLibrary(const std::wstring& name, CryptoApiBinding& binding) {
  CryptoApi& api = platform::Seam<CryptoApi>::Get();
  if (binding.library != nullptr) {
    api.UnloadLibrary(binding.library);
    binding.library = nullptr;
  }
  std::wstring path = name;
  if (name.find(platform::kWidePathSeparator) == std::wstring::npos) {
    platform::StepOr<std::wstring> folder = api.SystemFolder();
    if (!folder) return false;
    path = folder.value + platform::kWidePathSeparator + name;
  }
  platform::StepOr<platform::LibraryHandle> library = api.LoadLibraryFromPath(path);
  binding.library = library.ok ? library.value : nullptr;
  return binding.library != nullptr;
}

bool BindCryptoApi(CryptoApiBinding& binding) {
  if (!LoadSystemLibrary(L"crypt32.dll", binding)) return false;
  CryptoApi& api = platform::Seam<CryptoApi>::Get();
  for (const EntryPointRow& row : kEntryPoints) {
    platform::StepOr<platform::EntryPoint> entry = api.GetEntryPoint(binding.library, row.name);
    if (!entry || entry.value == nullptr) return false;
    binding.*row.slot = entry.value;
  }
  return true;
}

void UnloadCryptoApi(CryptoApiBinding& binding) {
  if (binding.library != nullptr) {
    LastErrorKept kept;
    platform::Seam<CryptoApi>::Get().UnloadLibrary(binding.library);
  }
  binding = CryptoApiBinding{};
}

SignatureVerifier::SignatureVerifier(const std::uint8_t* caCertificate, std::size_t caCertificateLength)
    : caCertificate_(caCertificate), caCertificateLength_(caCertificateLength) {}

SignatureVerifier::~SignatureVerifier() {
  if (binding_ != nullptr) UnloadCryptoApi(*binding_);
}

bool SignatureVerifier::Fail(VerificationFailure failure) {
  lastFailure_ = failure;
  return false;
}

bool SignatureVerifier::Bind() {
  if (binding_ != nullptr) return true;
  binding_.reset(new (std::nothrow) CryptoApiBinding());
  if (binding_ == nullptr) {
    platform::SetLastError(platform::error::kNotEnoughMemory);
    return false;
  }
  if (BindCryptoApi(*binding_)) return true;
  UnloadCryptoApi(*binding_);
  binding_.reset();
  return false;
}

bool SignatureVerifier::VerifyPackageSignature(const std::uint8_t* package, std::size_t packageLength,
                                               std::unique_ptr<std::uint8_t[]>& content,
                                               std::size_t& contentLength) {
  lastFailure_ = VerificationFailure::kNone;
  // Cleared before anything can fail, so that no caller ever sees a buffer
  // from before.
  content.reset();
  contentLength = 0;
  if (!Bind()) return Fail(VerificationFailure::kBinding);

  CryptoApi& api = platform::Seam<CryptoApi>::Get();
  const CryptoApiBinding& binding = *binding_;

  // The first pass verifies the signature and tells the content's size.
  std::size_t size = 0;
  if (!api.VerifyMessageSignature(binding.verifyMessageSignature, kEncoding, 0, package, packageLength, nullptr,
                                  &size, nullptr)) {
    return Fail(VerificationFailure::kMessageSignature);
  }
  content.reset(new (std::nothrow) std::uint8_t[size]);
  if (content == nullptr) {
    platform::SetLastError(platform::error::kNotEnoughMemory);
    return Fail(VerificationFailure::kContentMemory);
  }
  contentLength = size;

  // The second verifies again, decodes the content and hands out the signer.
  CertificateReference signer(binding);
  platform::CertificateHandle signerHandle = nullptr;
  std::size_t decoded = size;
  bool ok = api.VerifyMessageSignature(binding.verifyMessageSignature, kEncoding, 0, package, packageLength,
                                       content.get(), &decoded, &signerHandle)
                .ok;
  signer.Reset(signerHandle);
  if (!ok) return Fail(VerificationFailure::kContentDecoding);
  if (signerHandle == nullptr || decoded > size) {
    platform::SetLastError(crypto::kSignerNotFound);
    return Fail(VerificationFailure::kContentDecoding);
  }
  contentLength = decoded;

  CertificateSet messageCertificates(binding);
  platform::StepOr<CertificateSetHandle> set =
      api.GetMessageCertificates(binding.getMessageCertificates, kEncoding, package, packageLength);
  if (!set) return Fail(VerificationFailure::kMessageCertificates);
  messageCertificates.Set(set.value);

  CertificateReference authority(binding);
  platform::StepOr<CertificateHandle> created =
      api.CreateCertificate(binding.createCertificateContext, kEncoding, caCertificate_, caCertificateLength_);
  if (!created) return Fail(VerificationFailure::kAuthorityCertificate);
  authority.Reset(created.value);

  // Up the chain the message carries, from the signer. `position` is the
  // current certificate's place in it, the signer's being 0.
  CertificateReference current(binding);
  CertificateReference issuer(binding);
  current.TakeFrom(signer);
  for (int position = 0;; ++position) {
    platform::StepOr<CertificateHandle> found =
        api.FindIssuerOf(binding.findCertificateInStore, messageCertificates.Get(), kEncoding, current.Get());
    if (!found) break;
    issuer.Reset(found.value);
    if (issuer.Get() == current.Get()) {
      // Its own issuer: the top of the chain.
      issuer.Reset();
      break;
    }
    if (position + 1 >= kLongestChain) {
      platform::SetLastError(crypto::kChaining);
      return Fail(VerificationFailure::kChainTooLong);
    }
    if (!SubjectChecksOut(binding, current.Get(), issuer.Get())) return Fail(VerificationFailure::kChainLink);
    if (!MayIssue(binding, issuer.Get(), position)) return Fail(VerificationFailure::kIssuerNotAuthority);
    current.TakeFrom(issuer);
  }

  // The top of the chain must be signed by the built-in authority and be
  // valid now; the built-in certificate itself is trusted as it is.
  if (!SubjectChecksOut(binding, current.Get(), authority.Get())) return Fail(VerificationFailure::kAuthorityCheck);
  return true;
}
