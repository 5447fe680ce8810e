// vexel-publish verify and the updater agree on every package of the signed
// package table: the same verdict, the same failing step, the reason in
// words, and for an accepted package the installer byte for byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/publish/publish_program.h"
#include "tests/support/signed_packages.h"
#include "tests/support/temp_dir.h"
#include "tools/publish/package_check.h"
#include "transfer/builtin_ca_certificate.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using F = VerificationFailure;

std::string BuiltInAuthority() {
  return std::string(reinterpret_cast<const char*>(BuiltInCaCertificate), BuiltInCaCertificateLength);
}

class ToolkitVerdicts : public testing::TestWithParam<SignedPackageCase> {};

TEST_P(ToolkitVerdicts, AreTheUpdatersVerdicts) {
  const SignedPackageCase& c = GetParam();
  if (BuildAuthorityKey().empty()) GTEST_SKIP() << "this build was given an authority without its key: no packages";
  const fs::path folder = SignedPackageFolder();
  ASSERT_FALSE(folder.empty()) << "VEXEL_TEST_PACKAGES is not set: run the tests through ctest";
  const fs::path package = fs::absolute(folder / (std::string(c.file) + ".p7"));
  ASSERT_TRUE(fs::exists(package)) << package;

  // The updater's verdict, from its own verifier in this process.
  const publish::PackageVerdict updater = publish::CheckPackage(ReadFileBytes(package), BuiltInAuthority());
  ASSERT_EQ(updater.failure, c.failure) << "the updater no longer gives the table's verdict";

  TempDir work;
  const ProgramRun run = RunPublish({"verify", package.string(), "--out", "installer"}, work.Path());
  const bool accepted = c.failure == F::kNone;
  ASSERT_EQ(run.exitCode, accepted ? 0 : 1) << run.out << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = LinesOf(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), (accepted ? "accepted: " : "refused: ") + package.string());
  EXPECT_THAT(run.out, HasSubstr("built into this build's updater"));
  if (accepted) {
    const std::string expected =
        std::string(c.content) == "empty" ? std::string() : ReadFileBytes(folder / "content.bin");
    ASSERT_TRUE(fs::exists(work / "installer"));
    EXPECT_TRUE(ReadFileBytes(work / "installer") == expected) << "the installer written differs from the signed one";
    EXPECT_THAT(run.out, HasSubstr("installer: " + std::to_string(expected.size()) + " bytes"));
  } else {
    EXPECT_THAT(run.out, HasSubstr("\n  reason: " + publish::RefusalReason(c.failure, updater.error) + "\n"));
    EXPECT_THAT(run.out, HasSubstr(std::string("\n  failed step: ") + publish::FailureStepName(c.failure) + " ("));
    EXPECT_FALSE(fs::exists(work / "installer")) << "a refused package's content was written";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ToolkitVerdicts, testing::ValuesIn(SignedPackageCases()),
                         [](const testing::TestParamInfo<SignedPackageCase>& info) {
                           return SignedPackageCaseName(info.param);
                         });

// Each step has a name and a reason of its own, so that a verdict reported
// with the wrong step cannot pass for the right one.
TEST(ToolkitVerdictWords, TellEveryStepApart) {
  const F all[] = {F::kNone,
                   F::kBinding,
                   F::kMessageSignature,
                   F::kContentMemory,
                   F::kContentDecoding,
                   F::kMessageCertificates,
                   F::kAuthorityCertificate,
                   F::kChainLink,
                   F::kIssuerNotAuthority,
                   F::kChainTooLong,
                   F::kAuthorityCheck};
  std::set<std::string> names;
  std::set<std::string> reasons;
  for (F failure : all) {
    names.insert(publish::FailureStepName(failure));
    reasons.insert(publish::RefusalReason(failure, 0));
  }
  EXPECT_EQ(names.size(), std::size(all));
  EXPECT_EQ(reasons.size(), std::size(all));
}

}  // namespace
