#include "tests/fakes/fake_crypto_api.h"

#include <cstring>

#include "platform/last_error.h"

namespace {

namespace crypto = platform::crypto;

// Distinct addresses for the exports of the fake library.
template <int N>
void Export() {
  static volatile int marker = N;
  marker = marker + 1;
}

struct NamedExport {
  const char* name;
  platform::EntryPoint entry;
};

const NamedExport kExports[] = {
    {"CryptVerifyMessageSignature", &Export<1>},
    {"CryptGetMessageCertificates", &Export<2>},
    {"CertCreateCertificateContext", &Export<3>},
    {"CertFindCertificateInStore", &Export<4>},
    {"CertVerifySubjectCertificateContext", &Export<5>},
    {"CertFreeCertificateContext", &Export<6>},
    {"CertCloseStore", &Export<7>},
    {"CertFindExtension", &Export<8>},
    {"CryptDecodeObject", &Export<9>},
    {"CryptMsgOpenToDecode", &Export<10>},
};

std::string Bytes(const std::uint8_t* data, std::size_t length) {
  return data == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(data), length);
}

platform::Step Failure(platform::ErrorNumber error) {
  platform::SetLastError(error);
  return platform::Step::Failure(error);
}

template <class T>
platform::StepOr<T> FailureOr(platform::ErrorNumber error) {
  platform::SetLastError(error);
  return platform::StepOr<T>::Failure(error);
}

}  // namespace

struct FakeCryptoApi::Object {
  std::string name;
  int callerReferences = 0;
  bool inOpenSet = false;
};

struct FakeCryptoApi::SetObject {
  std::vector<Object*> members;
  bool open = true;
};

FakeCryptoApi::FakeCryptoApi() = default;
FakeCryptoApi::~FakeCryptoApi() = default;

void FakeCryptoApi::AddCertificate(const Certificate& certificate) { certificates_[certificate.name] = certificate; }

void FakeCryptoApi::AddIssued(const std::string& name, const std::string& issuer, bool authority) {
  Certificate c;
  c.name = name;
  c.issuer = issuer;
  c.key = name + " key";
  const Certificate* issuing = Find(issuer);
  c.signedWith = issuing != nullptr ? issuing->key : issuer + " key";
  c.constraints.certificateAuthority = authority;
  AddCertificate(c);
}

std::string FakeCryptoApi::AddMessage(const Message& message) {
  std::string bytes = "message:" + std::to_string(messages_.size());
  messages_[bytes] = message;
  return bytes;
}

void FakeCryptoApi::FailCall(const std::string& operation, int nth, platform::ErrorNumber error) {
  failures_[operation][nth] = error;
}

int FakeCryptoApi::LiveCertificates() const {
  int live = 0;
  for (const auto& object : objects_) live += object->callerReferences;
  return live;
}

int FakeCryptoApi::CallCount(const std::string& operation) const {
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

bool FakeCryptoApi::Scripted(const std::string& operation, platform::ErrorNumber* error) {
  int n = ++calls_[operation];
  auto it = failures_.find(operation);
  if (it == failures_.end()) return false;
  auto failure = it->second.find(n);
  if (failure == it->second.end()) return false;
  *error = failure->second;
  return true;
}

bool FakeCryptoApi::CheckEntry(platform::EntryPoint entry, const char* name) {
  if (libraryToken_ == 0 || loadedLibraries_ == 0) {
    misuses.push_back(std::string(name) + " called with no library loaded");
    return false;
  }
  for (const NamedExport& row : kExports) {
    if (std::strcmp(row.name, name) == 0) {
      if (entry == row.entry) return true;
      break;
    }
  }
  misuses.push_back(std::string(name) + " called through another entry point");
  return false;
}

FakeCryptoApi::Object* FakeCryptoApi::NewObject(const std::string& name, int callerReferences) {
  objects_.push_back(std::make_unique<Object>());
  objects_.back()->name = name;
  objects_.back()->callerReferences = callerReferences;
  return objects_.back().get();
}

FakeCryptoApi::Object* FakeCryptoApi::Live(platform::CertificateHandle handle, const char* operation) {
  for (const auto& object : objects_) {
    if (reinterpret_cast<platform::CertificateHandle>(object.get()) != handle) continue;
    if (object->callerReferences > 0) return object.get();
    misuses.push_back(std::string(operation) + " on a certificate no longer referenced: " + object->name);
    return nullptr;
  }
  misuses.push_back(std::string(operation) + " on a handle never handed out");
  return nullptr;
}

const FakeCryptoApi::Certificate* FakeCryptoApi::Find(const std::string& name) const {
  auto it = certificates_.find(name);
  return it == certificates_.end() ? nullptr : &it->second;
}

platform::StepOr<std::wstring> FakeCryptoApi::SystemFolder() {
  platform::ErrorNumber error = 0;
  if (Scripted("SHGetFolderPathW", &error)) return FailureOr<std::wstring>(error);
  return platform::StepOr<std::wstring>::Success(systemFolder);
}

platform::StepOr<platform::LibraryHandle> FakeCryptoApi::LoadLibraryFromPath(const std::wstring& path) {
  loadAttempts.push_back(path);
  platform::ErrorNumber error = 0;
  if (Scripted("LoadLibraryW", &error)) return FailureOr<platform::LibraryHandle>(error);
  if (loadablePaths.count(path) == 0) return FailureOr<platform::LibraryHandle>(crypto::kModuleNotFound);
  ++loadedLibraries_;
  libraryToken_ = 1;
  return platform::StepOr<platform::LibraryHandle>::Success(reinterpret_cast<platform::LibraryHandle>(&libraryToken_));
}

platform::Step FakeCryptoApi::UnloadLibrary(platform::LibraryHandle library) {
  ++calls_["FreeLibrary"];
  if (library != reinterpret_cast<platform::LibraryHandle>(&libraryToken_) || loadedLibraries_ == 0) {
    misuses.push_back("FreeLibrary of a library not loaded");
    return Failure(platform::error::kInvalidHandle);
  }
  --loadedLibraries_;
  return platform::Step::Success();
}

platform::StepOr<platform::EntryPoint> FakeCryptoApi::GetEntryPoint(platform::LibraryHandle library,
                                                                    const char* name) {
  platform::ErrorNumber error = 0;
  if (Scripted("GetProcAddress", &error)) return FailureOr<platform::EntryPoint>(error);
  if (library != reinterpret_cast<platform::LibraryHandle>(&libraryToken_) || loadedLibraries_ == 0) {
    misuses.push_back("GetProcAddress in a library not loaded");
    return FailureOr<platform::EntryPoint>(platform::error::kInvalidHandle);
  }
  if (missingExports.count(name) == 0) {
    for (const NamedExport& row : kExports) {
      if (std::strcmp(row.name, name) == 0) return platform::StepOr<platform::EntryPoint>::Success(row.entry);
    }
  }
  return FailureOr<platform::EntryPoint>(crypto::kProcedureNotFound);
}

platform::Step FakeCryptoApi::VerifyMessageSignature(platform::EntryPoint entry, std::uint32_t encoding,
                                                     std::uint32_t signerIndex, const std::uint8_t* message,
                                                     std::size_t length, std::uint8_t* content,
                                                     std::size_t* contentLength,
                                                     platform::CertificateHandle* signer) {
  if (signer != nullptr) *signer = nullptr;
  if (!CheckEntry(entry, "CryptVerifyMessageSignature")) return Failure(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CryptVerifyMessageSignature", &error)) return Failure(error);
  if (encoding != crypto::kMessageAndCertificateEncoding || signerIndex != 0 || contentLength == nullptr) {
    misuses.push_back("CryptVerifyMessageSignature with unexpected parameters");
    return Failure(crypto::kInvalidArgument);
  }
  auto it = messages_.find(Bytes(message, length));
  if (it == messages_.end()) return Failure(crypto::kBadEncoding);
  const Message& m = it->second;
  if (!m.signatureValid) return Failure(crypto::kBadSignature);
  if (content != nullptr) {
    if (*contentLength < m.content.size()) {
      *contentLength = m.content.size();
      return Failure(platform::error::kMoreData);
    }
    std::memcpy(content, m.content.data(), m.content.size());
  }
  *contentLength = m.content.size();
  if (signer != nullptr) *signer = reinterpret_cast<platform::CertificateHandle>(NewObject(m.signer, 1));
  return platform::Step::Success();
}

platform::StepOr<platform::CertificateSetHandle> FakeCryptoApi::GetMessageCertificates(platform::EntryPoint entry,
                                                                                        std::uint32_t encoding,
                                                                                        const std::uint8_t* message,
                                                                                        std::size_t length) {
  using Result = platform::CertificateSetHandle;
  if (!CheckEntry(entry, "CryptGetMessageCertificates")) return FailureOr<Result>(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CryptGetMessageCertificates", &error)) return FailureOr<Result>(error);
  if (encoding != crypto::kMessageAndCertificateEncoding) misuses.push_back("CryptGetMessageCertificates encoding");
  auto it = messages_.find(Bytes(message, length));
  if (it == messages_.end()) return FailureOr<Result>(crypto::kBadEncoding);
  sets_.push_back(std::make_unique<SetObject>());
  for (const std::string& name : it->second.carried) {
    Object* member = NewObject(name, 0);
    member->inOpenSet = true;
    sets_.back()->members.push_back(member);
  }
  ++liveSets_;
  return platform::StepOr<Result>::Success(reinterpret_cast<Result>(sets_.back().get()));
}

platform::StepOr<platform::CertificateHandle> FakeCryptoApi::CreateCertificate(platform::EntryPoint entry,
                                                                               std::uint32_t encoding,
                                                                               const std::uint8_t* der,
                                                                               std::size_t length) {
  using Result = platform::CertificateHandle;
  if (!CheckEntry(entry, "CertCreateCertificateContext")) return FailureOr<Result>(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CertCreateCertificateContext", &error)) return FailureOr<Result>(error);
  if (encoding != crypto::kMessageAndCertificateEncoding) misuses.push_back("CertCreateCertificateContext encoding");
  const std::string bytes = Bytes(der, length);
  const std::string prefix = "certificate:";
  if (bytes.compare(0, prefix.size(), prefix) != 0 || Find(bytes.substr(prefix.size())) == nullptr) {
    return FailureOr<Result>(crypto::kBadEncoding);
  }
  return platform::StepOr<Result>::Success(reinterpret_cast<Result>(NewObject(bytes.substr(prefix.size()), 1)));
}

platform::StepOr<platform::CertificateHandle> FakeCryptoApi::FindIssuerOf(platform::EntryPoint entry,
                                                                          platform::CertificateSetHandle set,
                                                                          std::uint32_t encoding,
                                                                          platform::CertificateHandle subject) {
  using Result = platform::CertificateHandle;
  if (!CheckEntry(entry, "CertFindCertificateInStore")) return FailureOr<Result>(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CertFindCertificateInStore", &error)) return FailureOr<Result>(error);
  if (encoding != crypto::kMessageAndCertificateEncoding) misuses.push_back("CertFindCertificateInStore encoding");
  auto* s = reinterpret_cast<SetObject*>(set);
  if (s == nullptr || !s->open) {
    misuses.push_back("CertFindCertificateInStore in a closed set");
    return FailureOr<Result>(crypto::kInvalidArgument);
  }
  Object* of = Live(subject, "CertFindCertificateInStore");
  if (of == nullptr) return FailureOr<Result>(crypto::kInvalidArgument);
  const Certificate* c = Find(of->name);
  for (Object* member : s->members) {
    if (c != nullptr && member->name == c->issuer) {
      ++member->callerReferences;
      return platform::StepOr<Result>::Success(reinterpret_cast<Result>(member));
    }
  }
  return FailureOr<Result>(crypto::kNotFound);
}

platform::Step FakeCryptoApi::VerifySubjectCertificate(platform::EntryPoint entry, platform::CertificateHandle subject,
                                                       platform::CertificateHandle issuer, std::uint32_t* flags) {
  if (!CheckEntry(entry, "CertVerifySubjectCertificateContext")) return Failure(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CertVerifySubjectCertificateContext", &error)) return Failure(error);
  Object* s = Live(subject, "CertVerifySubjectCertificateContext");
  Object* i = Live(issuer, "CertVerifySubjectCertificateContext");
  if (s == nullptr || i == nullptr || flags == nullptr) return Failure(crypto::kInvalidArgument);
  const Certificate* sc = Find(s->name);
  const Certificate* ic = Find(i->name);
  if (sc == nullptr || ic == nullptr) return Failure(crypto::kInvalidArgument);
  if ((*flags & crypto::kSignatureCheck) != 0 && sc->signedWith == ic->key) *flags &= ~crypto::kSignatureCheck;
  if ((*flags & crypto::kTimeValidityCheck) != 0 && sc->timeValid) *flags &= ~crypto::kTimeValidityCheck;
  return platform::Step::Success();
}

platform::Step FakeCryptoApi::FreeCertificate(platform::EntryPoint entry, platform::CertificateHandle certificate) {
  if (!CheckEntry(entry, "CertFreeCertificateContext")) return Failure(crypto::kInvalidArgument);
  ++calls_["CertFreeCertificateContext"];
  if (certificate == nullptr) return platform::Step::Success();
  Object* object = Live(certificate, "CertFreeCertificateContext");
  if (object == nullptr) return Failure(crypto::kInvalidArgument);
  --object->callerReferences;
  return platform::Step::Success();
}

platform::Step FakeCryptoApi::CloseCertificateSet(platform::EntryPoint entry, platform::CertificateSetHandle set) {
  if (!CheckEntry(entry, "CertCloseStore")) return Failure(crypto::kInvalidArgument);
  ++calls_["CertCloseStore"];
  if (set == nullptr) return platform::Step::Success();
  auto* s = reinterpret_cast<SetObject*>(set);
  if (!s->open) {
    misuses.push_back("CertCloseStore of a closed set");
    return Failure(crypto::kInvalidArgument);
  }
  s->open = false;
  for (Object* member : s->members) member->inOpenSet = false;
  --liveSets_;
  return platform::Step::Success();
}

platform::StepOr<platform::CertificateExtension> FakeCryptoApi::FindExtension(platform::EntryPoint entry,
                                                                              const char* oid,
                                                                              platform::CertificateHandle certificate) {
  using Result = platform::CertificateExtension;
  if (!CheckEntry(entry, "CertFindExtension")) return FailureOr<Result>(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CertFindExtension", &error)) return FailureOr<Result>(error);
  Object* object = Live(certificate, "CertFindExtension");
  if (object == nullptr) return FailureOr<Result>(crypto::kInvalidArgument);
  const Certificate* c = Find(object->name);
  if (c == nullptr || std::strcmp(oid, crypto::kBasicConstraintsOid) != 0 || !c->hasConstraints) {
    return FailureOr<Result>(crypto::kNotFound);
  }
  Result extension;
  extension.critical = true;
  const std::string token = c->constraintsDecodable ? "constraints:" + c->name : "garbage";
  extension.value.assign(token.begin(), token.end());
  return platform::StepOr<Result>::Success(extension);
}

platform::StepOr<platform::BasicConstraints> FakeCryptoApi::DecodeBasicConstraints(
    platform::EntryPoint entry, std::uint32_t encoding, const std::vector<std::uint8_t>& value) {
  using Result = platform::BasicConstraints;
  if (!CheckEntry(entry, "CryptDecodeObject")) return FailureOr<Result>(crypto::kInvalidArgument);
  platform::ErrorNumber error = 0;
  if (Scripted("CryptDecodeObject", &error)) return FailureOr<Result>(error);
  if (encoding != crypto::kMessageAndCertificateEncoding) misuses.push_back("CryptDecodeObject encoding");
  const std::string token(value.begin(), value.end());
  const std::string prefix = "constraints:";
  if (token.compare(0, prefix.size(), prefix) != 0) return FailureOr<Result>(crypto::kBadEncoding);
  const Certificate* c = Find(token.substr(prefix.size()));
  if (c == nullptr) return FailureOr<Result>(crypto::kBadEncoding);
  return platform::StepOr<Result>::Success(c->constraints);
}
