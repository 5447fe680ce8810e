// The updater's verdicts under crypt32 against those of vexel-publish on
// Linux, package by package: the signed-package table and packages that
// vexel-publish itself signed. tests/publish/toolkit_wine.py makes the
// packages and the toolkit's verdicts and runs this suite alone
// (win32.toolkit_agreement); elsewhere it has nothing to compare and skips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/publish/package_check.h"
#include "transfer/builtin_ca_certificate.h"

namespace {

// One line of the verdicts file, tab-separated: the package's name, its
// path, the toolkit's verdict ("accepted" or "refused"), the step it named
// ("none" for an accepted package), and the installer it wrote ("-" when
// it wrote none).
struct ToolkitVerdict {
  std::string name;
  std::string package;
  bool accepted = false;
  std::string step;
  std::string installer;
};

std::vector<ToolkitVerdict> ReadVerdicts(const std::string& path) {
  std::vector<ToolkitVerdict> verdicts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::istringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    if (fields.size() != 5) continue;
    verdicts.push_back(ToolkitVerdict{fields[0], fields[1], fields[2] == "accepted", fields[3], fields[4]});
  }
  return verdicts;
}

TEST(ToolkitAgreement, Crypt32GivesTheToolkitsVerdictOnEveryPackage) {
  const char* file = std::getenv("VEXEL_TOOLKIT_VERDICTS");
  if (file == nullptr) GTEST_SKIP() << "run by win32.toolkit_agreement (tests/publish/toolkit_wine.py) only";
  const std::vector<ToolkitVerdict> verdicts = ReadVerdicts(file);
  ASSERT_FALSE(verdicts.empty()) << "no verdicts in " << file;
  const std::string authority(reinterpret_cast<const char*>(BuiltInCaCertificate), BuiltInCaCertificateLength);
  for (const ToolkitVerdict& toolkit : verdicts) {
    SCOPED_TRACE(toolkit.name);
    const publish::PackageVerdict updater = publish::CheckPackage(ReadFileBytes(toolkit.package), authority);
    EXPECT_EQ(updater.accepted, toolkit.accepted);
    EXPECT_EQ(publish::FailureStepName(updater.failure), toolkit.step) << "error 0x" << std::hex << updater.error;
    if (updater.accepted && toolkit.installer != "-") {
      EXPECT_TRUE(updater.content == ReadFileBytes(toolkit.installer))
          << "crypt32 hands out other bytes than the toolkit wrote";
    }
  }
}

}  // namespace
