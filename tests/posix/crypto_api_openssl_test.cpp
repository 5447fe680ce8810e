// The OpenSSL adapter of the cryptographic library: the table of signed
// packages, and the library's look-up rules.
#include <gtest/gtest.h>

#include "platform/crypto_api.h"
#include "platform/seam.h"
#include "tests/support/signed_packages.h"
#include "transfer/signature_verifier.h"

namespace {

class OpenSslPackages : public testing::TestWithParam<SignedPackageCase> {};

TEST_P(OpenSslPackages, GiveTheVerdictOfTheTable) { CheckSignedPackage(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Table, OpenSslPackages, testing::ValuesIn(SignedPackageCases()),
                         [](const testing::TestParamInfo<SignedPackageCase>& info) {
                           return SignedPackageCaseName(info.param);
                         });

TEST(OpenSslCryptoLibrary, IsFoundOnlyUnderItsNameInTheSystemFolder) {
  auto& api = platform::Seam<platform::CryptoApi>::Get();
  auto folder = api.SystemFolder();
  ASSERT_TRUE(folder.ok);
  EXPECT_FALSE(api.LoadLibraryFromPath(L"crypt32.dll").ok);
  EXPECT_FALSE(api.LoadLibraryFromPath(L"/tmp/crypt32.dll").ok);
  EXPECT_FALSE(api.LoadLibraryFromPath(folder.value + L"/crypt33.dll").ok);
  auto library = api.LoadLibraryFromPath(folder.value + L"/CRYPT32.DLL");
  ASSERT_TRUE(library.ok);
  EXPECT_FALSE(api.GetEntryPoint(library.value, "CryptVerifyMessageSignatureW").ok);
  EXPECT_TRUE(api.UnloadLibrary(library.value).ok);
}

TEST(OpenSslCryptoLibrary, BindsEveryEntryPointAndRefusesOneCalledThroughAnother) {
  CryptoApiBinding binding;
  ASSERT_TRUE(BindCryptoApi(binding));
  auto& api = platform::Seam<platform::CryptoApi>::Get();
  const std::uint8_t der[] = {0x30, 0x00};
  auto created = api.CreateCertificate(binding.findExtension, platform::crypto::kMessageAndCertificateEncoding, der,
                                       sizeof der);
  EXPECT_FALSE(created.ok);
  EXPECT_EQ(created.error, platform::crypto::kInvalidArgument);
  UnloadCryptoApi(binding);
  EXPECT_EQ(binding.library, nullptr);
}

}  // namespace
