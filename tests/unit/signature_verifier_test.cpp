// The signature check against a scripted cryptographic library: the
// library's binding, the chain walk with its bound and its issuer checks, the
// failure of every step, and the release of every certificate, set and
// library it obtained.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/path_separator.h"
#include "platform/seam.h"
#include "tests/fakes/fake_crypto_api.h"
#include "transfer/signature_verifier.h"

namespace {

using F = VerificationFailure;
using testing::ElementsAre;
using testing::IsEmpty;
namespace crypto = platform::crypto;

const wchar_t kSeparator = platform::kWidePathSeparator;
const std::wstring kCrypt32 = std::wstring(L"C:\\windows\\system32") + kSeparator + L"crypt32.dll";

class SignatureCheck : public testing::Test {
 protected:
  struct Outcome {
    bool ok = false;
    F failure = F::kNone;
    std::string content;
    bool hasContent = false;
    std::size_t length = 0;
    platform::ErrorNumber error = 0;
  };

  SignatureCheck() {
    FakeCryptoApi::Certificate authority;
    authority.name = "authority";
    authority.issuer = "authority";
    authority.key = "authority key";
    authority.signedWith = "authority key";
    api.AddCertificate(authority);
  }

  void TearDown() override {
    EXPECT_EQ(api.LiveCertificates(), 0) << "every certificate reference is released";
    EXPECT_EQ(api.LiveSets(), 0) << "the message's certificate set is closed";
    EXPECT_EQ(api.LoadedLibraries(), 0) << "the library is unloaded with the verifier";
    EXPECT_THAT(api.misuses, IsEmpty());
  }

  Outcome Verify(SignatureVerifier& verifier, const std::string& package) {
    Outcome outcome;
    std::unique_ptr<std::uint8_t[]> content(new std::uint8_t[3]);
    std::size_t length = 3;
    platform::SetLastError(0);
    outcome.ok = verifier.VerifyPackageSignature(reinterpret_cast<const std::uint8_t*>(package.data()),
                                                 package.size(), content, length);
    outcome.error = platform::LastError();
    outcome.failure = verifier.LastFailure();
    outcome.hasContent = content != nullptr;
    outcome.length = length;
    if (content != nullptr) outcome.content.assign(reinterpret_cast<const char*>(content.get()), length);
    return outcome;
  }

  Outcome Verify(const std::string& package) {
    SignatureVerifier verifier(authorityBytes(), authority.size());
    return Verify(verifier, package);
  }

  const std::uint8_t* authorityBytes() const { return reinterpret_cast<const std::uint8_t*>(authority.data()); }

  // A message signed by "signer" at the bottom of a chain of `length`
  // certificates: signer, link-(length-1), ..., link-1, the last issued by
  // the authority. The message carries them all.
  std::string Chain(int length, const std::string& content = "the installer") {
    FakeCryptoApi::Message message;
    message.content = content;
    message.signer = "signer";
    for (int k = 1; k < length; ++k) {
      api.AddIssued(Link(k), k == 1 ? "authority" : Link(k - 1));
    }
    api.AddIssued("signer", length == 1 ? "authority" : Link(length - 1), false);
    message.carried.push_back("signer");
    for (int k = length - 1; k >= 1; --k) message.carried.push_back(Link(k));
    return api.AddMessage(message);
  }

  static std::string Link(int k) { return "link-" + std::to_string(k); }

  FakeCryptoApi api;
  platform::ScopedSeam<platform::CryptoApi> seam{&api};
  std::string authority = FakeCryptoApi::CertificateBytes("authority");
};

// --- the library ------------------------------------------------------------

TEST_F(SignatureCheck, BindsCrypt32FromTheSystemFolderOnceForEveryVerification) {
  std::string package = Chain(2);
  {
    SignatureVerifier verifier(authorityBytes(), authority.size());
    EXPECT_FALSE(verifier.HasBinding());
    EXPECT_TRUE(Verify(verifier, package).ok);
    EXPECT_TRUE(Verify(verifier, package).ok);
    EXPECT_TRUE(verifier.HasBinding());
    EXPECT_EQ(api.LoadedLibraries(), 1);
  }
  EXPECT_THAT(api.loadAttempts, ElementsAre(kCrypt32));
  EXPECT_EQ(api.CallCount("FreeLibrary"), 1);
}

TEST_F(SignatureCheck, LooksUpTheEntryPointsByTheirNamesInOrder) {
  CryptoApiBinding binding;
  ASSERT_TRUE(BindCryptoApi(binding));
  EXPECT_EQ(api.CallCount("GetProcAddress"), 9);
  for (platform::EntryPoint entry : {binding.verifyMessageSignature, binding.getMessageCertificates,
                                     binding.createCertificateContext, binding.findCertificateInStore,
                                     binding.verifySubjectCertificateContext, binding.freeCertificateContext,
                                     binding.closeStore, binding.findExtension, binding.decodeObject}) {
    EXPECT_NE(entry, nullptr);
  }
  UnloadCryptoApi(binding);
  EXPECT_EQ(binding.library, nullptr);
  EXPECT_EQ(binding.decodeObject, nullptr);
}

TEST_F(SignatureCheck, WithoutTheSystemFolderNothingIsLoaded) {
  api.FailCall("SHGetFolderPathW", 1, 0x80070003u);
  Outcome outcome = Verify(Chain(1));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kBinding);
  EXPECT_EQ(outcome.error, 0x80070003u);
  EXPECT_THAT(api.loadAttempts, IsEmpty());
}

TEST_F(SignatureCheck, ALibraryMissingFromTheSystemFolderIsTakenFromNowhereElse) {
  api.loadablePaths = {L"crypt32.dll", std::wstring(L"C:\\program") + kSeparator + L"crypt32.dll"};
  SignatureVerifier verifier(authorityBytes(), authority.size());
  Outcome outcome = Verify(verifier, Chain(1));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kBinding);
  EXPECT_EQ(outcome.error, crypto::kModuleNotFound);
  EXPECT_THAT(api.loadAttempts, ElementsAre(kCrypt32));
  EXPECT_FALSE(verifier.HasBinding());
  EXPECT_FALSE(outcome.hasContent) << "the out-parameters are cleared first";
  EXPECT_EQ(outcome.length, 0u);
}

TEST_F(SignatureCheck, AFailedBindingIsTriedAgainByTheNextVerification) {
  std::string package = Chain(1);
  api.FailCall("LoadLibraryW", 1, 5);
  SignatureVerifier verifier(authorityBytes(), authority.size());
  EXPECT_EQ(Verify(verifier, package).failure, F::kBinding);
  EXPECT_TRUE(Verify(verifier, package).ok);
  EXPECT_THAT(api.loadAttempts, ElementsAre(kCrypt32, kCrypt32));
}

TEST_F(SignatureCheck, LoadSystemLibraryUnloadsTheLibraryHeldBeforeAndLoadsAPathAsGiven) {
  CryptoApiBinding binding;
  ASSERT_TRUE(LoadSystemLibrary(L"crypt32.dll", binding));
  EXPECT_EQ(api.LoadedLibraries(), 1);
  const std::wstring elsewhere = std::wstring(L"D:") + kSeparator + L"elsewhere" + kSeparator + L"crypt32.dll";
  api.loadablePaths.insert(elsewhere);
  ASSERT_TRUE(LoadSystemLibrary(elsewhere, binding));
  EXPECT_EQ(api.LoadedLibraries(), 1);
  EXPECT_EQ(api.CallCount("SHGetFolderPathW"), 1) << "a name with a separator needs no system folder";
  EXPECT_FALSE(LoadSystemLibrary(L"missing.dll", binding));
  EXPECT_EQ(binding.library, nullptr);
  EXPECT_EQ(api.LoadedLibraries(), 0);
}

class MissingEntryPoint : public SignatureCheck, public testing::WithParamInterface<const char*> {};

TEST_P(MissingEntryPoint, FailsTheBindingAndUnloadsTheLibraryOnce) {
  api.missingExports.insert(GetParam());
  std::string package = Chain(1);
  {
    SignatureVerifier verifier(authorityBytes(), authority.size());
    Outcome outcome = Verify(verifier, package);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failure, F::kBinding);
    EXPECT_EQ(outcome.error, crypto::kProcedureNotFound);
    EXPECT_FALSE(verifier.HasBinding());
    EXPECT_EQ(api.LoadedLibraries(), 0);
  }
  EXPECT_EQ(api.CallCount("FreeLibrary"), 1) << "destroying the verifier releases nothing twice";
  EXPECT_EQ(api.CallCount("CryptVerifyMessageSignature"), 0);
}

INSTANTIATE_TEST_SUITE_P(EachOfThem, MissingEntryPoint,
                         testing::Values("CryptVerifyMessageSignature", "CryptGetMessageCertificates",
                                         "CertCreateCertificateContext", "CertFindCertificateInStore",
                                         "CertVerifySubjectCertificateContext", "CertFreeCertificateContext",
                                         "CertCloseStore", "CertFindExtension", "CryptDecodeObject"));

// --- the chain --------------------------------------------------------------

TEST_F(SignatureCheck, ASignerTheAuthorityIssuedVerifiesAndHandsBackTheContent) {
  Outcome outcome = Verify(Chain(1, std::string("MZ\0\x01\xff", 5)));
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kNone);
  EXPECT_EQ(outcome.content, std::string("MZ\0\x01\xff", 5));
}

class ChainLength : public SignatureCheck, public testing::WithParamInterface<int> {};

TEST_P(ChainLength, UpTo32CertificatesVerify) {
  Outcome outcome = Verify(Chain(GetParam()));
  EXPECT_TRUE(outcome.ok) << GetParam();
  EXPECT_EQ(outcome.content, "the installer");
  EXPECT_LE(api.CallCount("CertFindCertificateInStore"), 32);
}

INSTANTIATE_TEST_SUITE_P(Accepted, ChainLength, testing::Values(2, 3, 31, 32));

class OverlongChain : public SignatureCheck, public testing::WithParamInterface<int> {};

TEST_P(OverlongChain, FailsWithoutReachingTheAuthority) {
  Outcome outcome = Verify(Chain(GetParam()));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kChainTooLong);
  EXPECT_EQ(outcome.error, crypto::kChaining);
  EXPECT_EQ(api.CallCount("CertFindCertificateInStore"), 32);
  EXPECT_EQ(api.CallCount("CertVerifySubjectCertificateContext"), 31);
}

INSTANTIATE_TEST_SUITE_P(Refused, OverlongChain, testing::Values(33, 34, 60));

TEST_F(SignatureCheck, TwoCertificatesNamingEachOtherAsIssuerEndAtTheBound) {
  api.AddIssued("a", "b");
  api.AddIssued("b", "a");
  api.AddIssued("signer", "a", false);
  std::string package = api.AddMessage({"content", "signer", {"signer", "a", "b"}});
  Outcome outcome = Verify(package);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kChainTooLong);
}

TEST_F(SignatureCheck, ACopyOfTheAuthorityInTheMessageIsTheTopAndItsOwnValidityCounts) {
  api.AddIssued("intermediate", "authority");
  api.AddIssued("signer", "intermediate", false);
  std::string package = api.AddMessage({"content", "signer", {"signer", "intermediate", "authority"}});
  EXPECT_TRUE(Verify(package).ok);

  // The same copy, but past its validity period: the walk up to it holds,
  // the final check of the copy against the built-in authority does not.
  FakeCryptoApi::Certificate copy;
  copy.name = "authority";
  copy.issuer = "authority";
  copy.key = "authority key";
  copy.signedWith = "authority key";
  copy.timeValid = false;
  api.AddCertificate(copy);
  Outcome outcome = Verify(package);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kAuthorityCheck);
  EXPECT_EQ(outcome.error, crypto::kCertificateExpired);
}

TEST_F(SignatureCheck, AChainEndingAtAnotherAuthorityFailsTheFinalCheck) {
  api.AddIssued("other", "other");
  api.AddIssued("signer", "other", false);
  Outcome outcome = Verify(api.AddMessage({"content", "signer", {"signer", "other"}}));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kAuthorityCheck);
  EXPECT_EQ(outcome.error, crypto::kCertificateSignature);
  EXPECT_EQ(outcome.content, "content") << "the content buffer stays with the caller on failure";
}

TEST_F(SignatureCheck, ALinkOutOfItsValidityPeriodFailsTheWalk) {
  std::string package = Chain(3);
  FakeCryptoApi::Certificate expired;
  expired.name = "link-2";
  expired.issuer = "link-1";
  expired.key = "link-2 key";
  expired.signedWith = "link-1 key";
  expired.timeValid = false;
  api.AddCertificate(expired);
  Outcome outcome = Verify(package);
  EXPECT_EQ(outcome.failure, F::kChainLink);
  EXPECT_EQ(outcome.error, crypto::kCertificateExpired);
}

TEST_F(SignatureCheck, ALinkNotSignedByItsIssuerFailsTheWalk) {
  std::string package = Chain(2);
  FakeCryptoApi::Certificate forged;
  forged.name = "signer";
  forged.issuer = "link-1";
  forged.key = "signer key";
  forged.signedWith = "someone else's key";
  forged.constraints.certificateAuthority = false;
  api.AddCertificate(forged);
  Outcome outcome = Verify(package);
  EXPECT_EQ(outcome.failure, F::kChainLink);
  EXPECT_EQ(outcome.error, crypto::kCertificateSignature);
}

// Every certificate that issues another in the chain must be an authority,
// within its path-length limit; the built-in authority is trusted as it is.
struct IssuerCase {
  const char* name;
  bool hasConstraints;
  bool certificateAuthority;
  bool hasLimit;
  std::uint32_t limit;
  int depth;  // which link of a four-certificate chain gets these constraints (1: next to the authority)
  bool decodable;
  bool verifies;
};

void PrintTo(const IssuerCase& c, std::ostream* out) { *out << c.name; }

class IssuerConstraints : public SignatureCheck, public testing::WithParamInterface<IssuerCase> {};

TEST_P(IssuerConstraints, DecideWhetherTheIssuerMayIssue) {
  const IssuerCase& c = GetParam();
  std::string package = Chain(4);  // signer, link-3, link-2, link-1
  FakeCryptoApi::Certificate link;
  link.name = Link(c.depth);
  link.issuer = c.depth == 1 ? "authority" : Link(c.depth - 1);
  link.key = link.name + " key";
  link.signedWith = c.depth == 1 ? "authority key" : Link(c.depth - 1) + " key";
  link.hasConstraints = c.hasConstraints;
  link.constraints = {c.certificateAuthority, c.hasLimit, c.limit};
  link.constraintsDecodable = c.decodable;
  api.AddCertificate(link);
  Outcome outcome = Verify(package);
  EXPECT_EQ(outcome.ok, c.verifies);
  EXPECT_EQ(outcome.failure, c.verifies ? F::kNone : F::kIssuerNotAuthority);
  if (!c.verifies) {
    EXPECT_NE(outcome.error, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IssuerConstraints,
    testing::Values(IssuerCase{"NotAnAuthority", true, false, false, 0, 3, true, false},
                    IssuerCase{"NotAnAuthorityHigherUp", true, false, false, 0, 1, true, false},
                    IssuerCase{"NoBasicConstraints", false, false, false, 0, 2, true, false},
                    // link-3 issues only the signer: no authority below it.
                    IssuerCase{"LimitZeroNextToTheSigner", true, true, true, 0, 3, true, true},
                    // link-2 has link-3 below it.
                    IssuerCase{"LimitZeroAboveAnotherAuthority", true, true, true, 0, 2, true, false},
                    IssuerCase{"LimitOneAboveOneAuthority", true, true, true, 1, 2, true, true},
                    // link-1 has link-2 and link-3 below it.
                    IssuerCase{"LimitOneAboveTwoAuthorities", true, true, true, 1, 1, true, false},
                    IssuerCase{"LimitTwoAboveTwoAuthorities", true, true, true, 2, 1, true, true}),
    [](const testing::TestParamInfo<IssuerCase>& info) { return std::string(info.param.name); });

TEST_F(SignatureCheck, AnUndecodableConstraintsValueFailsAsNotAnAuthority) {
  std::string package = Chain(2);
  FakeCryptoApi::Certificate link;
  link.name = "link-1";
  link.issuer = "authority";
  link.key = "link-1 key";
  link.signedWith = "authority key";
  link.constraintsDecodable = false;
  api.AddCertificate(link);
  Outcome outcome = Verify(package);
  EXPECT_EQ(outcome.failure, F::kIssuerNotAuthority);
  EXPECT_EQ(outcome.error, crypto::kBadEncoding);
}

TEST_F(SignatureCheck, TheBuiltInAuthorityNeedsNoConstraintsOfItsOwn) {
  FakeCryptoApi::Certificate bare;
  bare.name = "authority";
  bare.issuer = "authority";
  bare.key = "authority key";
  bare.signedWith = "authority key";
  bare.hasConstraints = false;
  api.AddCertificate(bare);
  EXPECT_TRUE(Verify(Chain(2)).ok);
}

// --- a failure at each step -------------------------------------------------

struct StepFailure {
  const char* operation;
  int nth;
  F failure;
  bool contentKept;                  // the content buffer stays with the caller
  platform::ErrorNumber error = 0;   // the last error left; 0: the failing step's own
};

void PrintTo(const StepFailure& s, std::ostream* out) { *out << s.operation << " call " << s.nth; }

class FailingStep : public SignatureCheck, public testing::WithParamInterface<StepFailure> {};

TEST_P(FailingStep, FailsThereAndReleasesEverything) {
  const StepFailure& s = GetParam();
  std::string package = Chain(2, "the installer");  // signer, link-1
  api.FailCall(s.operation, s.nth, 0x8009FFF1u);
  Outcome outcome = Verify(package);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, s.failure);
  EXPECT_EQ(outcome.error, s.error != 0 ? s.error : 0x8009FFF1u) << "the failing step's error survives the releases";
  EXPECT_EQ(outcome.hasContent, s.contentKept);
  EXPECT_EQ(outcome.length, s.contentKept ? 13u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, FailingStep,
    testing::Values(StepFailure{"CryptVerifyMessageSignature", 1, F::kMessageSignature, false},
                    StepFailure{"CryptVerifyMessageSignature", 2, F::kContentDecoding, true},
                    StepFailure{"CryptGetMessageCertificates", 1, F::kMessageCertificates, true},
                    StepFailure{"CertCreateCertificateContext", 1, F::kAuthorityCertificate, true},
                    StepFailure{"CertVerifySubjectCertificateContext", 1, F::kChainLink, true},
                    StepFailure{"CertVerifySubjectCertificateContext", 2, F::kAuthorityCheck, true},
                    // An issuer whose constraints cannot be found is no authority.
                    StepFailure{"CertFindExtension", 1, F::kIssuerNotAuthority, true, crypto::kNotAnAuthority},
                    StepFailure{"CryptDecodeObject", 1, F::kIssuerNotAuthority, true}),
    [](const testing::TestParamInfo<StepFailure>& info) {
      return std::string(info.param.operation) + "_" + std::to_string(info.param.nth);
    });

TEST_F(SignatureCheck, AnIssuerThatCannotBeFoundEndsTheWalkWhereItIs) {
  // With the look-up failing, the signer is the top: the authority did not
  // sign it, link-1 did.
  std::string package = Chain(2);
  api.FailCall("CertFindCertificateInStore", 1, crypto::kNotFound);
  Outcome outcome = Verify(package);
  EXPECT_EQ(outcome.failure, F::kAuthorityCheck);
  EXPECT_EQ(api.CallCount("CertFindCertificateInStore"), 1);
}

TEST_F(SignatureCheck, AnUnsignedPackageFailsAtTheFirstStepWithClearedOutParameters) {
  Outcome outcome = Verify(std::string("MZ not a signed message"));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.failure, F::kMessageSignature);
  EXPECT_FALSE(outcome.hasContent);
  EXPECT_EQ(outcome.length, 0u);
  EXPECT_EQ(api.CallCount("CryptGetMessageCertificates"), 0);
}

TEST_F(SignatureCheck, ABadMessageSignatureFailsAtTheFirstStep) {
  api.AddIssued("signer", "authority", false);
  FakeCryptoApi::Message message{"content", "signer", {"signer"}};
  message.signatureValid = false;
  Outcome outcome = Verify(api.AddMessage(message));
  EXPECT_EQ(outcome.failure, F::kMessageSignature);
  EXPECT_EQ(outcome.error, crypto::kBadSignature);
}

}  // namespace
