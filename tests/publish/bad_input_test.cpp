// vexel-publish on bad input: one clear line, exit code 2, and no output
// file left behind; and its help texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/publish/publish_program.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::StartsWith;

class BadInput : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir();
    const fs::path& d = folder_->Path();
    auto ok = [&d](const std::vector<std::string>& arguments) {
      const ProgramRun run = RunPublish(arguments, d);
      ASSERT_EQ(run.exitCode, 0) << run.err;
    };
    ok({"new-authority", "--cert", "authority.pem", "--key", "authority.key"});
    ok({"new-signer", "--issuer", "authority.pem", "--issuer-key", "authority.key", "--cert", "signer.pem", "--key",
        "signer.key"});
    ok({"new-signer", "--issuer", "authority.pem", "--issuer-key", "authority.key", "--cert", "other.pem", "--key",
        "other.key"});
    WriteFileBytes(d / "setup.exe", "MZ an installer");
    WriteFileBytes(d / "empty.exe", "");
    WriteFileBytes(d / "taken.p7", "taken");
    WriteFileBytes(d / "passphrase", "a passphrase\n");
    ok({"sign", "setup.exe", "--signer", "signer.pem", "--key", "signer.key", "--out", "setup.p7"});
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }

  static TempDir* folder_;
};

TempDir* BadInput::folder_ = nullptr;

const std::string kNotAnAuthority = " is not a certificate authority (its basic constraints do not say CA:TRUE)";
const std::vector<std::string> kSign = {"sign", "setup.exe", "--signer", "signer.pem", "--key", "signer.key"};

std::vector<std::string> Plus(std::vector<std::string> words, const std::vector<std::string>& more) {
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

std::vector<std::string> ManifestWith(const std::string& activeX, const std::string& frequency) {
  return {"manifest", "--activex", activeX, "--plugin", "1.2.3.4", "--check-frequency", frequency, "--out", "out.xml"};
}

TEST_F(BadInput, GetsOneClearLineAndExitCodeTwoAndLeavesNoFile) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string message;  // the whole line after "vexel-publish: "
  } cases[] = {
      // Files that are missing or hold the wrong thing.
      {"a missing installer",
       {"sign", "missing.exe", "--signer", "signer.pem", "--key", "signer.key", "--out", "out.p7"},
       "cannot read the installer missing.exe: No such file or directory"},
      {"an empty installer",
       {"sign", "empty.exe", "--signer", "signer.pem", "--key", "signer.key", "--out", "out.p7"},
       "the installer empty.exe is empty"},
      {"a key given as the certificate",
       {"sign", "setup.exe", "--signer", "signer.key", "--key", "signer.key", "--out", "out.p7"},
       "the signer's certificate signer.key holds no certificate (PEM or DER)"},
      {"a certificate given as the key",
       {"sign", "setup.exe", "--signer", "signer.pem", "--key", "signer.pem", "--out", "out.p7"},
       "the signer's key signer.pem holds no PEM private key"},
      {"another signer's key",
       {"sign", "setup.exe", "--signer", "signer.pem", "--key", "other.key", "--out", "out.p7"},
       "the key other.key does not belong to the certificate signer.pem"},
      {"a missing chain file", Plus(kSign, {"--out", "out.p7", "--chain", "missing.pem"}),
       "cannot read the chain file missing.pem: No such file or directory"},
      {"a missing package",
       {"verify", "missing.p7", "--out", "out.exe"},
       "cannot read the package missing.p7: No such file or directory"},
      {"a missing manifest",
       {"check-manifest", "missing.xml"},
       "cannot read the manifest missing.xml: No such file or directory"},
      {"a folder as the manifest", {"check-manifest", "."}, "cannot read the manifest .: it is a folder"},
      // Certificates that are no authority where one is needed.
      {"verify against a signer",
       {"verify", "setup.p7", "--authority", "signer.pem", "--out", "out.exe"},
       "the authority certificate signer.pem" + kNotAnAuthority},
      {"sign against a signer", Plus(kSign, {"--out", "out.p7", "--authority", "signer.pem"}),
       "the authority certificate signer.pem" + kNotAnAuthority},
      {"a signer as issuer",
       {"new-signer", "--issuer", "signer.pem", "--issuer-key", "signer.key", "--cert", "out.pem", "--key", "out.key"},
       "the issuer signer.pem" + kNotAnAuthority},
      {"an intermediate under a signer",
       {"new-authority", "--issuer", "signer.pem", "--issuer-key", "signer.key", "--cert", "out.pem", "--key",
        "out.key"},
       "the issuer signer.pem" + kNotAnAuthority},
      {"an issuer with another's key",
       {"new-signer", "--issuer", "authority.pem", "--issuer-key", "other.key", "--cert", "out.pem", "--key",
        "out.key"},
       "the key other.key does not belong to the certificate authority.pem"},
      // Version texts that are not four numbers.
      {"three numbers", ManifestWith("1.2.3", "1"),
       "--activex \"1.2.3\" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"five numbers", ManifestWith("1.2.3.4.5", "1"),
       "--activex \"1.2.3.4.5\" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"a letter", ManifestWith("1.2.3.x", "1"),
       "--activex \"1.2.3.x\" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"a sign", ManifestWith("+1.2.3.4", "1"),
       "--activex \"+1.2.3.4\" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"an empty part", ManifestWith("1..3.4", "1"),
       "--activex \"1..3.4\" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"a blank", ManifestWith("1.2.3.4 ", "1"),
       "--activex \"1.2.3.4 \" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"commas", ManifestWith("1,2,3,4", "1"),
       "--activex \"1,2,3,4\" is not a version of four numbers: give four numbers separated by dots, such as "
       "11.2.202.235"},
      {"beyond 32 bits", ManifestWith("1.2.3.4294967296", "1"),
       "--activex \"1.2.3.4294967296\": 4294967296 is larger than 4294967295, the largest a version number can be"},
      {"a negative frequency", ManifestWith("1.2.3.4", "-1"),
       "--check-frequency \"-1\" is not a number of days (0 to 4294967295)"},
      {"a fractional frequency", ManifestWith("1.2.3.4", "1.5"),
       "--check-frequency \"1.5\" is not a number of days (0 to 4294967295)"},
      {"a frequency beyond 32 bits", ManifestWith("1.2.3.4", "4294967296"),
       "--check-frequency \"4294967296\" is not a number of days (0 to 4294967295)"},
      // Outputs that cannot be written.
      {"an output that exists", Plus(kSign, {"--out", "taken.p7"}),
       "the package taken.p7 exists already (give --force to replace it)"},
      {"an output in a missing folder", Plus(kSign, {"--out", "nowhere/out.p7"}),
       "cannot write the package nowhere/out.p7: its folder nowhere does not exist"},
      {"a folder as output", Plus(kSign, {"--out", "."}), "cannot write the package .: it is a folder"},
      {"certificate and key in one file",
       {"new-authority", "--cert", "out.pem", "--key", "out.pem"},
       "--cert and --key name the same file out.pem"},
      {"a missing passphrase file",
       {"new-authority", "--cert", "out.pem", "--key", "out.key", "--passphrase-file", "missing"},
       "cannot read the passphrase file missing: No such file or directory"},
      // Command lines it does not understand.
      {"no command", {}, "no command given (see vexel-publish --help)"},
      {"an unknown command", {"publish"}, "unknown command \"publish\" (see vexel-publish --help)"},
      {"an unknown option", Plus(kSign, {"--out", "out.p7", "--detached"}),
       "sign: unknown option --detached (see vexel-publish sign --help)"},
      {"a required option missing", kSign, "sign: --out is required (see vexel-publish sign --help)"},
      {"no installer",
       {"sign", "--signer", "signer.pem", "--key", "signer.key", "--out", "out.p7"},
       "sign: the installer to sign is missing (see vexel-publish sign --help)"},
      {"two installers", Plus(kSign, {"--out", "out.p7", "second.exe"}),
       "sign: unexpected argument \"second.exe\" (see vexel-publish sign --help)"},
      {"an option given twice", Plus(kSign, {"--out", "out.p7", "--out", "out2.p7"}),
       "sign: --out is given twice (see vexel-publish sign --help)"},
      {"an option without its value", Plus(kSign, {"--out"}),
       "sign: --out needs a value (PACKAGE) (see vexel-publish sign --help)"},
      {"a flag with a value", Plus(kSign, {"--out", "out.p7", "--force=yes"}),
       "sign: --force takes no value (see vexel-publish sign --help)"},
      {"too short a key",
       {"new-authority", "--cert", "out.pem", "--key", "out.key", "--bits", "1024"},
       "new-authority: --bits \"1024\" is not a number from 2048 to 4096 (see vexel-publish new-authority --help)"},
      {"an odd key size",
       {"new-authority", "--cert", "out.pem", "--key", "out.key", "--bits", "2049"},
       "new-authority: --bits takes 2048, 3072 or 4096 (see vexel-publish new-authority --help)"},
      {"no days",
       {"new-authority", "--cert", "out.pem", "--key", "out.key", "--days", "0"},
       "new-authority: --days \"0\" is not a number from 1 to 36500 (see vexel-publish new-authority --help)"},
      {"two passphrase sources",
       {"new-authority", "--cert", "out.pem", "--key", "out.key", "--passphrase-file", "passphrase", "--passphrase-env",
        "HOME"},
       "new-authority: give --passphrase-file or --passphrase-env, not both (see vexel-publish new-authority --help)"},
      {"a manifest without versions",
       {"manifest", "--check-frequency", "1", "--out", "out.xml"},
       "manifest: --activex is required (see vexel-publish manifest --help)"},
  };
  const char* outputs[] = {"out.p7", "out.exe", "out.pem", "out.key", "out.xml", "out2.p7", "nowhere"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun run = RunPublish(c.arguments, folder_->Path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "vexel-publish: " + c.message + "\n");
    EXPECT_EQ(run.out, "");
    for (const char* output : outputs) EXPECT_FALSE(fs::exists(folder_->Path() / output)) << output;
    EXPECT_EQ(ReadFileBytes(folder_->Path() / "taken.p7"), "taken");
    for (const auto& entry : fs::directory_iterator(folder_->Path())) {
      EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
    }
  }
}

// The text with its line breaks and runs of blanks as single blanks.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line += blank ? ' ' : c;
  }
  return line;
}

TEST(Help, IsThereForTheProgramAndEveryCommand) {
  TempDir dir;
  const char* commands[] = {"new-authority", "new-signer", "sign", "verify", "manifest", "check-manifest"};
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"-h"}, std::vector<std::string>{"help"}}) {
    const ProgramRun run = RunPublish(words, dir.Path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, StartsWith("Usage: vexel-publish COMMAND"));
    for (const char* command : commands) EXPECT_THAT(run.out, HasSubstr(std::string("\n  ") + command + " "));
    EXPECT_THAT(OneLine(run.out), HasSubstr("come from the release engineers"));
  }
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{command, "--help"}, std::vector<std::string>{"help", command},
          std::vector<std::string>{command, "--out", "x", "-h"}}) {
      const ProgramRun run = RunPublish(words, dir.Path());
      EXPECT_EQ(run.exitCode, 0);
      EXPECT_EQ(run.err, "");
      EXPECT_THAT(run.out, StartsWith(std::string("Usage: vexel-publish ") + command));
      EXPECT_THAT(run.out, HasSubstr("\n  --help\n"));
    }
  }
  for (const char* command : {"new-authority", "new-signer"}) {
    const ProgramRun run = RunPublish({command, "--help"}, dir.Path());
    EXPECT_THAT(OneLine(run.out), HasSubstr("come from the release engineers")) << command;
    EXPECT_THAT(OneLine(run.out), HasSubstr("(mode 0600)")) << command;
  }
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
