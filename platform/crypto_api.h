// The cryptographic library: loading it from the system folder, looking up
// its entry points, and the message and certificate operations the package
// signature check calls through those entry points.
//
// The shape is that of CryptoAPI in crypt32.dll, which the Windows build
// loads at run time: every operation takes the entry point that was looked
// up for it and calls through it. Libraries, entry points, certificate
// objects and certificate sets are opaque handles here. (The library steps
// are not called LoadLibrary and FreeLibrary: windows.h defines macros of
// those names.)
//
// Certificate objects are counted references: every handle that an
// operation hands out (the signer of VerifyMessageSignature, CreateCertificate,
// FindIssuerOf) is one reference, released exactly once with
// FreeCertificate. Finding the same certificate of a set twice hands out the
// same object twice, so two handles compare equal exactly when they are the
// same object. A certificate set holds its own references to its members;
// closing it leaves alive the objects still referenced elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/step.h"

namespace platform {

struct CryptoLibraryObject;
struct CertificateObject;
struct CertificateSetObject;

using LibraryHandle = CryptoLibraryObject*;
using CertificateHandle = const CertificateObject*;
using CertificateSetHandle = CertificateSetObject*;
// An entry point of a loaded library, to be called only through the
// operation it was looked up for.
using EntryPoint = void (*)();

namespace crypto {
// X.509 ASN.1 combined with PKCS #7 ASN.1: the encoding type of every call.
inline constexpr std::uint32_t kMessageAndCertificateEncoding = 0x00000001u | 0x00010000u;
// Checks of VerifySubjectCertificate.
inline constexpr std::uint32_t kSignatureCheck = 0x1u;     // CERT_STORE_SIGNATURE_FLAG
inline constexpr std::uint32_t kTimeValidityCheck = 0x2u;  // CERT_STORE_TIME_VALIDITY_FLAG
// The object identifier of the basic-constraints extension (id-ce 19).
inline constexpr char kBasicConstraintsOid[] = "2.5.29.19";

// Error numbers (HRESULT values as CryptoAPI sets them).
inline constexpr ErrorNumber kNotFound = 0x80092004u;             // CRYPT_E_NOT_FOUND
inline constexpr ErrorNumber kBadEncoding = 0x8009310Bu;          // CRYPT_E_ASN1_BADTAG
inline constexpr ErrorNumber kUnexpectedEnd = 0x80093102u;        // CRYPT_E_ASN1_EOD
inline constexpr ErrorNumber kInvalidMessageType = 0x80091004u;   // CRYPT_E_INVALID_MSG_TYPE
inline constexpr ErrorNumber kNoSigner = 0x8009200Eu;             // CRYPT_E_NO_SIGNER
inline constexpr ErrorNumber kSignerNotFound = 0x8009100Eu;       // CRYPT_E_SIGNER_NOT_FOUND
inline constexpr ErrorNumber kBadSignature = 0x80090006u;         // NTE_BAD_SIGNATURE
inline constexpr ErrorNumber kHashMismatch = 0x80091007u;         // CRYPT_E_HASH_VALUE
inline constexpr ErrorNumber kCertificateSignature = 0x80096004u; // TRUST_E_CERT_SIGNATURE
inline constexpr ErrorNumber kCertificateExpired = 0x800B0101u;   // CERT_E_EXPIRED
inline constexpr ErrorNumber kNotAnAuthority = 0x80096019u;       // TRUST_E_BASIC_CONSTRAINTS
inline constexpr ErrorNumber kPathTooLong = 0x800B0104u;          // CERT_E_PATHLENCONST
inline constexpr ErrorNumber kChaining = 0x800B010Au;             // CERT_E_CHAINING
inline constexpr ErrorNumber kInvalidArgument = 0x80070057u;      // E_INVALIDARG
inline constexpr ErrorNumber kModuleNotFound = 126;               // ERROR_MOD_NOT_FOUND
inline constexpr ErrorNumber kProcedureNotFound = 127;            // ERROR_PROC_NOT_FOUND
}  // namespace crypto

// A certificate extension as the certificate carries it.
struct CertificateExtension {
  bool critical = false;
  std::vector<std::uint8_t> value;  // the DER encoding of the extension's value
};

// The decoded basic-constraints extension.
struct BasicConstraints {
  bool certificateAuthority = false;
  bool hasPathLengthLimit = false;
  std::uint32_t pathLengthLimit = 0;  // meaningful only with hasPathLengthLimit
};

class CryptoApi {
 public:
  virtual ~CryptoApi() = default;

  // --- The library ---------------------------------------------------------

  // SHGetFolderPathW(no window, CSIDL_SYSTEM, no token, SHGFP_TYPE_CURRENT)
  // into MAX_PATH characters: the Windows system folder, without a trailing
  // separator. Failure: the shell's error number.
  virtual StepOr<std::wstring> SystemFolder() = 0;

  // LoadLibraryW(path): the library at exactly this path, nothing searched.
  // Failure (no handle): the loader's error number, ERROR_MOD_NOT_FOUND when
  // there is no such library.
  virtual StepOr<LibraryHandle> LoadLibraryFromPath(const std::wstring& path) = 0;

  // FreeLibrary: releases one load of the library. The handle is invalid
  // afterwards, whatever the result.
  virtual Step UnloadLibrary(LibraryHandle library) = 0;

  // GetProcAddress(library, name). Failure: ERROR_PROC_NOT_FOUND when the
  // library does not export the name.
  virtual StepOr<EntryPoint> GetEntryPoint(LibraryHandle library, const char* name) = 0;

  // --- Operations called through looked-up entry points ------------------

  // CryptVerifyMessageSignature, entry point of that name. Verifies the
  // signature of signer `signerIndex` of the PKCS #7 signed-data message
  // (`message`, `length`), whose signer certificate is taken from those the
  // message carries, and decodes its content. Neither the signer's
  // certificate nor its chain is judged here.
  //   content null: *contentLength receives the content's size.
  //   content non-null: *contentLength gives the buffer's size and receives
  //     the content's; a buffer too small fails with ERROR_MORE_DATA.
  //   signer non-null: on success receives the signer's certificate object
  //     (one reference); on failure null.
  // Failure: the message is not signed data, is malformed or truncated,
  // carries no content (a detached signature), has no such signer or no
  // certificate for it, or its signature does not match its content.
  virtual Step VerifyMessageSignature(EntryPoint entry, std::uint32_t encoding, std::uint32_t signerIndex,
                                      const std::uint8_t* message, std::size_t length, std::uint8_t* content,
                                      std::size_t* contentLength, CertificateHandle* signer) = 0;

  // CryptGetMessageCertificates(encoding, no provider, flags 0, message):
  // a new set holding the certificates the message carries. Release with
  // CloseCertificateSet. Failure: the message cannot be decoded.
  virtual StepOr<CertificateSetHandle> GetMessageCertificates(EntryPoint entry, std::uint32_t encoding,
                                                               const std::uint8_t* message,
                                                               std::size_t length) = 0;

  // CertCreateCertificateContext: a new certificate object decoded from the
  // DER bytes (one reference). Failure: the bytes are not a certificate.
  virtual StepOr<CertificateHandle> CreateCertificate(EntryPoint entry, std::uint32_t encoding,
                                                      const std::uint8_t* der, std::size_t length) = 0;

  // CertFindCertificateInStore(set, encoding, find flags 0,
  // CERT_FIND_ISSUER_OF, subject, no previous): the first certificate of the
  // set that is the issuer of `subject` (one more reference to the set's
  // object). The issuer is recognised by the subject's authority key
  // identifier when it has one (issuer name with serial number, else key
  // identifier), otherwise by name. Nothing is verified. Failure:
  // CRYPT_E_NOT_FOUND when none matches.
  virtual StepOr<CertificateHandle> FindIssuerOf(EntryPoint entry, CertificateSetHandle set, std::uint32_t encoding,
                                                 CertificateHandle subject) = 0;

  // CertVerifySubjectCertificateContext(subject, issuer, flags). *flags holds
  // the checks to make (crypto::kSignatureCheck: the subject's signature
  // with the issuer's public key; crypto::kTimeValidityCheck: the subject's
  // validity period against the current time); each check that passes is
  // cleared, each that fails stays set, and the step still succeeds.
  // Failure: a check that cannot be made (unknown flags, no issuer).
  virtual Step VerifySubjectCertificate(EntryPoint entry, CertificateHandle subject, CertificateHandle issuer,
                                        std::uint32_t* flags) = 0;

  // CertFreeCertificateContext: releases one reference. Null is a no-op.
  virtual Step FreeCertificate(EntryPoint entry, CertificateHandle certificate) = 0;

  // CertCloseStore(set, flags 0): releases the set and its own references
  // to its members. Null is a no-op.
  virtual Step CloseCertificateSet(EntryPoint entry, CertificateSetHandle set) = 0;

  // CertFindExtension(oid, the certificate's extensions): the extension with
  // that object identifier (dotted text). Failure: CRYPT_E_NOT_FOUND when the
  // certificate has none.
  virtual StepOr<CertificateExtension> FindExtension(EntryPoint entry, const char* oid,
                                                     CertificateHandle certificate) = 0;

  // CryptDecodeObject(encoding, X509_BASIC_CONSTRAINTS2, value, flags 0):
  // the basic-constraints extension's value decoded. Failure: the bytes are
  // not a basic-constraints value.
  virtual StepOr<BasicConstraints> DecodeBasicConstraints(EntryPoint entry, std::uint32_t encoding,
                                                          const std::vector<std::uint8_t>& value) = 0;
};

}  // namespace platform
