#include "tools/publish/package_check.h"

#include <cstdint>
#include <memory>

#include "platform/crypto_api.h"
#include "platform/last_error.h"

namespace publish {

namespace ce = platform::crypto;
using F = VerificationFailure;

PackageVerdict CheckPackage(const std::string& package, const std::string& authority) {
  // The verifier holds on to the authority's bytes; they live in `authority`
  // until it is gone.
  SignatureVerifier verifier(reinterpret_cast<const std::uint8_t*>(authority.data()), authority.size());
  std::unique_ptr<std::uint8_t[]> content;
  std::size_t length = 0;
  platform::SetLastError(0);
  PackageVerdict verdict;
  verdict.accepted = verifier.VerifyPackageSignature(reinterpret_cast<const std::uint8_t*>(package.data()),
                                                     package.size(), content, length);
  verdict.error = platform::LastError();
  verdict.failure = verifier.LastFailure();
  if (verdict.accepted) {
    verdict.error = 0;
    if (length > 0) verdict.content.assign(reinterpret_cast<const char*>(content.get()), length);
  }
  return verdict;
}

const char* FailureStepName(VerificationFailure failure) {
  switch (failure) {
    case F::kNone:
      return "none";
    case F::kBinding:
      return "library";
    case F::kMessageSignature:
      return "message signature";
    case F::kContentMemory:
      return "content memory";
    case F::kContentDecoding:
      return "content decoding";
    case F::kMessageCertificates:
      return "message certificates";
    case F::kAuthorityCertificate:
      return "authority certificate";
    case F::kChainLink:
      return "chain link";
    case F::kIssuerNotAuthority:
      return "issuer not an authority";
    case F::kChainTooLong:
      return "chain too long";
    case F::kAuthorityCheck:
      return "authority check";
  }
  return "unknown";
}

std::string RefusalReason(VerificationFailure failure, platform::ErrorNumber error) {
  switch (failure) {
    case F::kNone:
      return "the package verifies";
    case F::kBinding:
      return "the cryptographic library, or one of its functions, cannot be loaded";
    case F::kMessageSignature:
      switch (error) {
        case ce::kUnexpectedEnd:
          return "the package is empty, cut short, or carries no installer (a detached signature, or certificates "
                 "alone)";
        case ce::kBadEncoding:
          return "the package is not a PKCS #7 message (or it is damaged)";
        case ce::kInvalidMessageType:
          return "the package is a PKCS #7 message but not signed data";
        case ce::kNoSigner:
          return "the package has no signer";
        case ce::kSignerNotFound:
          return "the package does not carry the signer's certificate";
        case ce::kBadSignature:
        case ce::kHashMismatch:
          return "the signature does not match the content: the package was altered after signing";
        default:
          return "the package is not signed data that carries its content, or its signature does not hold";
      }
    case F::kContentMemory:
      return "there is not enough memory for the installer the package carries";
    case F::kContentDecoding:
      return "the installer the package carries cannot be decoded";
    case F::kMessageCertificates:
      return "the certificates the package carries cannot be read";
    case F::kAuthorityCertificate:
      return "the authority's certificate cannot be decoded";
    case F::kChainLink:
      if (error == ce::kCertificateExpired) {
        return "a certificate of the chain the package carries is outside its validity period (expired or not "
               "yet valid)";
      }
      if (error == ce::kCertificateSignature) {
        return "a certificate of the chain the package carries is not signed by the certificate above it";
      }
      return "a certificate of the chain the package carries does not check out against its issuer";
    case F::kIssuerNotAuthority:
      if (error == ce::kPathTooLong) {
        return "a certificate of the chain issued more authorities below it than its path length limit allows";
      }
      return "a certificate that issued another in the chain is not a certificate authority (no basic "
             "constraints with CA:TRUE)";
    case F::kChainTooLong:
      return "the chain the package carries is longer than 32 certificates, or runs in a circle";
    case F::kAuthorityCheck:
      if (error == ce::kCertificateExpired) {
        return "the top of the chain the package carries is outside its validity period";
      }
      if (error == ce::kCertificateSignature) {
        return "the chain the package carries does not lead to the authority: its top is not signed by it";
      }
      return "the top of the chain the package carries does not check out against the authority";
  }
  return "the verification failed";
}

}  // namespace publish
