#include "tests/support/signed_packages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/last_error.h"
#include "tests/support/temp_dir.h"
#include "transfer/builtin_ca_certificate.h"

using F = VerificationFailure;

const std::vector<SignedPackageCase>& SignedPackageCases() {
  static const std::vector<SignedPackageCase> cases = {
      // Signed by a certificate the authority issued, carrying only that one.
      {"valid-direct", F::kNone},
      // Through an intermediate (path-length limit 0, not exceeded).
      {"valid-intermediate", F::kNone},
      // The message carries its own copy of the authority, within its validity.
      {"valid-with-authority-copy", F::kNone},
      // 32 certificates from the signer to the top: the longest chain accepted.
      {"valid-chain-32", F::kNone},
      {"valid-empty-content", F::kNone, "empty"},
      // Not a signed message with content, or its signature does not hold.
      {"empty", F::kMessageSignature},
      {"truncated", F::kMessageSignature},
      {"not-pkcs7", F::kMessageSignature},
      {"altered-content", F::kMessageSignature},
      {"altered-signature", F::kMessageSignature},
      {"detached", F::kMessageSignature},
      {"certificates-only", F::kMessageSignature},
      {"signer-not-carried", F::kMessageSignature},
      // A link of the chain out of its validity period.
      {"expired-signer", F::kChainLink},
      // The top of the chain not valid now, or not the authority's.
      {"not-yet-valid-signer", F::kAuthorityCheck},
      {"expired-authority-copy", F::kAuthorityCheck},
      {"foreign-authority", F::kAuthorityCheck},
      {"impostor-authority", F::kAuthorityCheck},
      {"self-signed-authority-signer", F::kAuthorityCheck},
      // An issuer in the chain that may not issue certificates.
      {"end-entity-issuer", F::kIssuerNotAuthority},
      {"unconstrained-issuer", F::kIssuerNotAuthority},
      {"path-length-exceeded", F::kIssuerNotAuthority},
      {"self-signed-signer", F::kIssuerNotAuthority},
      // 33 certificates; two certificates naming each other as issuer.
      {"chain-33", F::kChainTooLong},
      {"mutual-issuers", F::kChainTooLong},
  };
  return cases;
}

std::string SignedPackageCaseName(const SignedPackageCase& c) {
  std::string name;
  for (const char* p = c.file; *p != '\0'; ++p) {
    name += (*p == '-') ? '_' : *p;
  }
  return name;
}

std::ostream& operator<<(std::ostream& out, const SignedPackageCase& c) { return out << c.file; }

std::filesystem::path SignedPackageFolder() {
  const char* folder = std::getenv("VEXEL_TEST_PACKAGES");
  return folder != nullptr ? std::filesystem::path(folder) : std::filesystem::path();
}

bool SignedPackagesMade() {
#ifdef VEXEL_TEST_PACKAGES_MADE
  return true;
#else
  return false;
#endif
}

namespace {

const char* FailureName(VerificationFailure failure) {
  switch (failure) {
    case F::kNone: return "none";
    case F::kBinding: return "binding";
    case F::kMessageSignature: return "message signature";
    case F::kContentMemory: return "content memory";
    case F::kContentDecoding: return "content decoding";
    case F::kMessageCertificates: return "message certificates";
    case F::kAuthorityCertificate: return "authority certificate";
    case F::kChainLink: return "chain link";
    case F::kIssuerNotAuthority: return "issuer not an authority";
    case F::kChainTooLong: return "chain too long";
    case F::kAuthorityCheck: return "authority check";
  }
  return "?";
}

}  // namespace

void CheckSignedPackage(const SignedPackageCase& c) {
  const std::filesystem::path folder = SignedPackageFolder();
  if (folder.empty()) {
#ifdef VEXEL_TEST_PACKAGES_MADE
    FAIL() << "VEXEL_TEST_PACKAGES is not set: run the tests through ctest, which makes the packages first";
#else
    GTEST_SKIP() << "this build was given an authority without its key (VEXEL_CA_PRIVATE_KEY): no test packages";
#endif
  }
  const std::filesystem::path file = folder / (std::string(c.file) + ".p7");
  ASSERT_TRUE(std::filesystem::exists(file)) << file.string();
  const std::string package = ReadFileBytes(file);
  std::string expected;
  if (c.failure == F::kNone && std::string(c.content) == "content") {
    ASSERT_TRUE(std::filesystem::exists(folder / "content.bin"));
    expected = ReadFileBytes(folder / "content.bin");
    ASSERT_FALSE(expected.empty());
  }

  SignatureVerifier verifier(BuiltInCaCertificate, BuiltInCaCertificateLength);
  std::unique_ptr<std::uint8_t[]> content;
  std::size_t length = 12345;
  platform::SetLastError(0);
  const bool verified = verifier.VerifyPackageSignature(reinterpret_cast<const std::uint8_t*>(package.data()),
                                                        package.size(), content, length);
  const platform::ErrorNumber error = platform::LastError();

  EXPECT_EQ(verified, c.failure == F::kNone) << "failed at: " << FailureName(verifier.LastFailure())
                                             << ", error 0x" << std::hex << error;
  EXPECT_STREQ(FailureName(verifier.LastFailure()), FailureName(c.failure)) << "error 0x" << std::hex << error;
  if (verified) {
    ASSERT_EQ(length, expected.size());
    ASSERT_TRUE(content != nullptr);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(content.get()), length) == expected)
        << "the content differs from the signed bytes";
  } else {
    EXPECT_NE(error, 0u) << "a failure leaves the thread's last error set";
    if (c.failure == F::kMessageSignature) {
      EXPECT_EQ(content, nullptr);
      EXPECT_EQ(length, 0u);
    }
  }
}
