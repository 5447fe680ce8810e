// Signature verification of installer packages.
//
// A package is a PKCS #7 signed-data message that carries its content, the
// installer. The check: the message's signature over its content, then the
// chain of certificates the message itself carries, from the signer upwards,
// each certificate against its issuer (signature and validity period now),
// every issuer on the way being a certificate authority, and the top of that
// chain against the built-in authority. The cryptographic library (crypt32.dll
// on Windows) is loaded at run time from the system folder and from nowhere
// else; its entry points are kept in a CryptoApiBinding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/crypto_api.h"

// The loaded library and the entry points looked up in it, in the order
// BindCryptoApi looks them up.
struct CryptoApiBinding {
  platform::LibraryHandle library = nullptr;
  platform::EntryPoint verifyMessageSignature = nullptr;           // CryptVerifyMessageSignature
  platform::EntryPoint getMessageCertificates = nullptr;           // CryptGetMessageCertificates
  platform::EntryPoint createCertificateContext = nullptr;         // CertCreateCertificateContext
  platform::EntryPoint findCertificateInStore = nullptr;           // CertFindCertificateInStore
  platform::EntryPoint verifySubjectCertificateContext = nullptr;  // CertVerifySubjectCertificateContext
  platform::EntryPoint freeCertificateContext = nullptr;           // CertFreeCertificateContext
  platform::EntryPoint closeStore = nullptr;                       // CertCloseStore
  platform::EntryPoint findExtension = nullptr;                    // CertFindExtension
  platform::EntryPoint decodeObject = nullptr;                     // CryptDecodeObject
};

// Loads the library `name` into the binding, unloading the one it held
// before. A name without a path separator is taken from the system folder
// (and only from there); a name with one is loaded as given. False when the
// system folder cannot be found or the library cannot be loaded; the
// binding then holds no library.
bool LoadSystemLibrary(const std::wstring& name, CryptoApiBinding& binding);

// Loads crypt32.dll from the system folder and looks up every entry point
// of the binding. False at the first that fails; the library may then stay
// loaded in the binding (UnloadCryptoApi releases it).
bool BindCryptoApi(CryptoApiBinding& binding);

// Unloads the binding's library, if any, and clears the binding.
void UnloadCryptoApi(CryptoApiBinding& binding);

// Where a verification failed; for diagnostics and tests.
enum class VerificationFailure {
  kNone,                  // the last verification succeeded (or none ran)
  kBinding,               // the library or one of its entry points is missing
  kMessageSignature,      // not a signed message with content, or its signature is wrong
  kContentMemory,         // no memory for the content
  kContentDecoding,       // the content could not be decoded after all
  kMessageCertificates,   // the message's certificates could not be opened
  kAuthorityCertificate,  // the built-in authority's certificate could not be decoded
  kChainLink,             // a certificate of the chain fails against its issuer
  kIssuerNotAuthority,    // a certificate that issued another is no (or too short a) CA
  kChainTooLong,          // the chain runs past its longest length (or in a circle)
  kAuthorityCheck,        // the top of the chain fails against the built-in authority
};

class SignatureVerifier {
 public:
  // Verifies against the DER certificate `caCertificate` (normally
  // BuiltInCaCertificate); the bytes must outlive the verifier. The library
  // is not loaded until the first verification.
  SignatureVerifier(const std::uint8_t* caCertificate, std::size_t caCertificateLength);
  // Unloads the library of the binding, if there is one.
  ~SignatureVerifier();
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;

  // True when `package` is a signed message whose signature and certificate
  // chain check out; `content` then holds the signed content and
  // `contentLength` its size. Both are cleared first; once the content's
  // size is known they hold a buffer of that size whatever the outcome (the
  // caller owns it). On false the thread's last error tells why.
  bool VerifyPackageSignature(const std::uint8_t* package, std::size_t packageLength,
                              std::unique_ptr<std::uint8_t[]>& content, std::size_t& contentLength);

  VerificationFailure LastFailure() const { return lastFailure_; }
  bool HasBinding() const { return binding_ != nullptr; }

 private:
  bool Fail(VerificationFailure failure);
  bool Bind();

  std::unique_ptr<CryptoApiBinding> binding_;
  const std::uint8_t* caCertificate_;
  std::size_t caCertificateLength_;
  VerificationFailure lastFailure_ = VerificationFailure::kNone;
};
