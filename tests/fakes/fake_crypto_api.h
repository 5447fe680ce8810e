// A scriptable stand-in for the cryptographic library.
//
// Certificates and messages are described, not encoded: a message's bytes
// are a token handed out by AddMessage, a certificate's DER bytes a token
// from CertificateBytes. The fake keeps count of every certificate
// reference it hands out and of every set and library load, notes each
// misuse (a release of a reference not held, a call through the wrong entry
// point, a use of a closed set or an unloaded library), and fails any call
// on demand.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/crypto_api.h"
#include "platform/path_separator.h"

class FakeCryptoApi final : public platform::CryptoApi {
 public:
  struct Certificate {
    std::string name;        // its subject name, and its identity in the fake
    std::string issuer;      // the issuer name it states
    std::string key;         // its public key
    std::string signedWith;  // the key its signature was made with
    bool timeValid = true;   // within its validity period now
    bool hasConstraints = true;
    platform::BasicConstraints constraints{true, false, 0};
    bool constraintsDecodable = true;
  };

  struct Message {
    std::string content;
    std::string signer;                // a name among `carried`
    std::vector<std::string> carried;  // certificates the message carries, in order
    bool signatureValid = true;
  };

  FakeCryptoApi();
  ~FakeCryptoApi() override;

  // --- the script ---
  void AddCertificate(const Certificate& certificate);
  // A certificate with the usual fields: issued by `issuer` under its key.
  void AddIssued(const std::string& name, const std::string& issuer, bool authority = true);
  static std::string CertificateBytes(const std::string& name) { return "certificate:" + name; }
  std::string AddMessage(const Message& message);

  // The `nth` call (counted from 1) of `operation` fails with `error`; the
  // operation names are those of the Windows functions ("LoadLibraryW",
  // "GetProcAddress", "CertFindCertificateInStore", ...).
  void FailCall(const std::string& operation, int nth, platform::ErrorNumber error);

  // The system folder, and the libraries that load (by full path); by
  // default crypt32.dll in the system folder.
  std::wstring systemFolder = L"C:\\windows\\system32";
  std::set<std::wstring> loadablePaths{systemFolder + platform::kWidePathSeparator + L"crypt32.dll"};
  std::set<std::string> missingExports;

  // --- what happened ---
  std::vector<std::wstring> loadAttempts;
  int LiveCertificates() const;  // references handed out and not released
  int LiveSets() const { return liveSets_; }
  int LoadedLibraries() const { return loadedLibraries_; }
  int CallCount(const std::string& operation) const;
  std::vector<std::string> misuses;

  // --- the interface ---
  platform::StepOr<std::wstring> SystemFolder() override;
  platform::StepOr<platform::LibraryHandle> LoadLibraryFromPath(const std::wstring& path) override;
  platform::Step UnloadLibrary(platform::LibraryHandle library) override;
  platform::StepOr<platform::EntryPoint> GetEntryPoint(platform::LibraryHandle library, const char* name) override;
  platform::Step VerifyMessageSignature(platform::EntryPoint entry, std::uint32_t encoding, std::uint32_t signerIndex,
                                        const std::uint8_t* message, std::size_t length, std::uint8_t* content,
                                        std::size_t* contentLength, platform::CertificateHandle* signer) override;
  platform::StepOr<platform::CertificateSetHandle> GetMessageCertificates(platform::EntryPoint entry,
                                                                          std::uint32_t encoding,
                                                                          const std::uint8_t* message,
                                                                          std::size_t length) override;
  platform::StepOr<platform::CertificateHandle> CreateCertificate(platform::EntryPoint entry, std::uint32_t encoding,
                                                                  const std::uint8_t* der,
                                                                  std::size_t length) override;
  platform::StepOr<platform::CertificateHandle> FindIssuerOf(platform::EntryPoint entry,
                                                             platform::CertificateSetHandle set,
                                                             std::uint32_t encoding,
                                                             platform::CertificateHandle subject) override;
  platform::Step VerifySubjectCertificate(platform::EntryPoint entry, platform::CertificateHandle subject,
                                          platform::CertificateHandle issuer, std::uint32_t* flags) override;
  platform::Step FreeCertificate(platform::EntryPoint entry, platform::CertificateHandle certificate) override;
  platform::Step CloseCertificateSet(platform::EntryPoint entry, platform::CertificateSetHandle set) override;
  platform::StepOr<platform::CertificateExtension> FindExtension(platform::EntryPoint entry, const char* oid,
                                                                 platform::CertificateHandle certificate) override;
  platform::StepOr<platform::BasicConstraints> DecodeBasicConstraints(
      platform::EntryPoint entry, std::uint32_t encoding, const std::vector<std::uint8_t>& value) override;

 private:
  struct Object;
  struct SetObject;

  bool Scripted(const std::string& operation, platform::ErrorNumber* error);
  bool CheckEntry(platform::EntryPoint entry, const char* name);
  Object* NewObject(const std::string& name, int callerReferences);
  Object* Live(platform::CertificateHandle handle, const char* operation);
  const Certificate* Find(const std::string& name) const;

  std::map<std::string, Certificate> certificates_;
  std::map<std::string, Message> messages_;
  std::map<std::string, std::map<int, platform::ErrorNumber>> failures_;
  std::map<std::string, int> calls_;
  std::vector<std::unique_ptr<Object>> objects_;  // kept to the end, so a stale handle is recognised
  std::vector<std::unique_ptr<SetObject>> sets_;
  int liveSets_ = 0;
  int loadedLibraries_ = 0;
  int libraryToken_ = 0;
};
