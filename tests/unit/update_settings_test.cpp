#include "config/update_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_settings.h"
#include "config/config_file.h"
#include "platform/seam.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_shell_folders.h"
#include "tests/fakes/fake_utf8_conversion.h"
#include "tests/fakes/log_capture.h"

namespace {

using Messages = std::vector<std::wstring>;

// The configuration file lies below the fake system folder "/sys" (the host
// build's separator is "/").
const char kFolder[] = "/sys/Kestran/Vexel";
const char kPath[] = "/sys/Kestran/Vexel/vxm.cfg";

class UpdateSettingsTest : public ::testing::Test {
 protected:
  UpdateSettingsTest() : folderSeam_(&folders_), storeSeam_(&store_), conversionSeam_(&conversion_) {
    folders_.systemFolder = L"/sys";
    store_.folders.insert(kFolder);
    ForgetConfigFilePath();
    savedSettings_ = UpdateSettings;
    savedManifestHost_ = ManifestServerHost;
    savedDownloadHost_ = DownloadServerHost;
    UpdateSettings = UpdateSettingsRecord{};
    ManifestServerHost = build_settings::kDefaultUpdateHost;
    DownloadServerHost = build_settings::kAlternateUpdateHost;
  }
  ~UpdateSettingsTest() override {
    ForgetConfigFilePath();
    UpdateSettings = savedSettings_;
    ManifestServerHost = savedManifestHost_;
    DownloadServerHost = savedDownloadHost_;
  }

  FakeShellFolders folders_;
  FakeFileStore store_;
  FakeUtf8Conversion conversion_;

 private:
  platform::ScopedSeam<platform::ShellFolders> folderSeam_;
  platform::ScopedSeam<platform::FileStore> storeSeam_;
  platform::ScopedSeam<platform::Utf8Conversion> conversionSeam_;
  UpdateSettingsRecord savedSettings_;
  std::wstring savedManifestHost_;
  std::wstring savedDownloadHost_;
};

TEST(ParseBool, WordsAndLeadingIntegers) {
  struct Case {
    const char* text;
    bool value;
  } cases[] = {
      {"1", true},      {"TRUE", true},  {"true", true},  {"True", true},  {"t", true},   {"T", true},
      {"Yes", true},    {"YES", true},   {"y", true},     {"2", true},     {"-1", true},  {"10abc", true},
      {" 7", true},     {"\t+3", true},  {"99999999999", true},            {"-99999999999", true},
      {"0", false},     {"false", false}, {"no", false},  {"on", false},   {"0x1", false}, {"", false},
      {"-0", false},    {"00", false},   {"yes!", false}, {"tru", false},  {"abc1", false}, {"+", false},
      {" y", false},    {"truE ", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseBool(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(UpdateSettingsTest, TheFilePathIsBelowTheSystemFolder) {
  EXPECT_EQ(ConfigFilePath(), kPath);
  folders_.systemFolder = L"/elsewhere";
  EXPECT_EQ(ConfigFilePath(), kPath) << "the path is kept for the life of the process";
  ForgetConfigFilePath();
  folders_.failWith = 0x80004005;
  EXPECT_EQ(ConfigFilePath(), "/Kestran/Vexel/vxm.cfg") << "a shell failure leaves the bare suffix";
  ForgetConfigFilePath();
  conversion_.failWideToUtf8With = 1113;
  EXPECT_EQ(ConfigFilePath(), "");
  conversion_.failWideToUtf8With = 0;
  folders_.failWith = 0;
  EXPECT_EQ(ConfigFilePath(), "/elsewhere/Kestran/Vexel/vxm.cfg") << "an empty path is not kept";
}

TEST_F(UpdateSettingsTest, EachModeWritesItsPairOfValues) {
  struct Case {
    int mode;
    const char* file;
  } cases[] = {
      {kUpdateModeSilent, "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=1\r\n"},
      {kUpdateModeNotify, "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=0\r\n"},
      {kUpdateModeDisabled, "AutoUpdateDisable=1\r\nSilentAutoUpdateEnable=0\r\n"},
  };
  for (const Case& c : cases) {
    store_.files.clear();
    EXPECT_TRUE(SetUpdateMode(c.mode)) << c.mode;
    EXPECT_EQ(store_.files[kPath], c.file) << c.mode;
  }
}

TEST_F(UpdateSettingsTest, SetUpdateModeKeepsOtherKeysInTheirPlaces) {
  store_.files[kPath] =
      "SilentAutoUpdateServerDomain=updates.example.org\r\n"
      "SilentAutoUpdateEnable=1\r\n"
      "SilentAutoUpdateVerboseLogging=1\r\n"
      "p=first\r\n";
  ASSERT_TRUE(SetUpdateMode(kUpdateModeDisabled));
  // Buckets: p 0, AutoUpdateDisable 0 (new, so in front of p),
  // SilentAutoUpdateEnable 2, VerboseLogging 8, ServerDomain 10.
  EXPECT_EQ(store_.files[kPath],
            "AutoUpdateDisable=1\r\n"
            "p=first\r\n"
            "SilentAutoUpdateEnable=0\r\n"
            "SilentAutoUpdateVerboseLogging=1\r\n"
            "SilentAutoUpdateServerDomain=updates.example.org\r\n");
}

TEST_F(UpdateSettingsTest, AnUnknownModeTouchesNothing) {
  store_.files[kPath] = "SilentAutoUpdateEnable=1\n";
  LogCapture log;
  for (int mode : {3, -1, 1000}) EXPECT_FALSE(SetUpdateMode(mode)) << mode;
  EXPECT_EQ(store_.opens, 0);
  EXPECT_EQ(store_.files[kPath], "SilentAutoUpdateEnable=1\n");
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(UpdateSettingsTest, AMissingFolderIsNotCreated) {
  store_.folders.clear();
  EXPECT_FALSE(SetUpdateMode(kUpdateModeSilent));
  EXPECT_TRUE(store_.files.empty());
  EXPECT_FALSE(IsSilentUpdateEnabled());
}

TEST_F(UpdateSettingsTest, IsSilentUpdateEnabledReadsOnlyItsKey) {
  struct Case {
    const char* file;
    bool enabled;
  } cases[] = {
      {"SilentAutoUpdateEnable=1\nAutoUpdateDisable=1\n", true},
      {"SilentAutoUpdateEnable=yes\n", true},
      {"SilentAutoUpdateEnable=0\nAutoUpdateDisable=0\n", false},
      {"silentautoupdateenable=1\n", false},
      {"SilentAutoUpdateEnable=on\n", false},
      {"", false},
  };
  for (const Case& c : cases) {
    store_.files[kPath] = c.file;
    LogCapture log;
    EXPECT_EQ(IsSilentUpdateEnabled(), c.enabled) << c.file;
    EXPECT_EQ(log.Messages(), c.enabled ? Messages{L"1607"} : Messages{}) << c.file;
  }
}

TEST_F(UpdateSettingsTest, LoadUpdateSettingsWritesItsLinesOnlyWhenTheFileSwitchesVerboseOn) {
  store_.files[kPath] =
      "SilentAutoUpdateVerboseLogging=1\r\n"
      "SilentAutoUpdateServerDomain=updates.example.org\r\n"
      "AutoUpdateDisable=1\r\n"
      "SilentAutoUpdateEnable=0\r\n";
  {
    LogCapture log(false);
    ASSERT_TRUE(LoadUpdateSettings());
    EXPECT_TRUE(UpdateSettings.verboseLogging);
    EXPECT_EQ(log.Messages(), (Messages{L"1628 updates.example.org", L"1629 updates.example.org", L"1613", L"1616"}));
  }
  EXPECT_TRUE(UpdateSettings.autoUpdateDisabled);
  EXPECT_FALSE(UpdateSettings.silentAutoUpdateEnabled);
  EXPECT_EQ(ManifestServerHost, L"updates.example.org");
  EXPECT_EQ(DownloadServerHost, L"updates.example.org");

  UpdateSettings = UpdateSettingsRecord{};
  store_.files[kPath] =
      "SilentAutoUpdateVerboseLogging=0\r\n"
      "SilentAutoUpdateServerDomain=other.example.org\r\n"
      "SilentAutoUpdateEnable=1\r\n";
  {
    LogCapture log(false);
    ASSERT_TRUE(LoadUpdateSettings());
    EXPECT_FALSE(UpdateSettings.verboseLogging);
    EXPECT_TRUE(log.Lines().empty());
  }
  EXPECT_FALSE(UpdateSettings.autoUpdateDisabled);
  EXPECT_TRUE(UpdateSettings.silentAutoUpdateEnabled);
  EXPECT_EQ(ManifestServerHost, L"other.example.org");
}

TEST_F(UpdateSettingsTest, VerboseLoggingIsNeverSwitchedBackOff) {
  store_.files[kPath] = "SilentAutoUpdateVerboseLogging=0\r\n";
  UpdateSettings.verboseLogging = true;
  LogCapture log(true);
  ASSERT_TRUE(LoadUpdateSettings());
  EXPECT_TRUE(UpdateSettings.verboseLogging);
  EXPECT_EQ(log.Messages(), (Messages{L"1614", L"1616"}));
}

TEST_F(UpdateSettingsTest, ServerDomainValues) {
  const std::wstring defaultHost = build_settings::kDefaultUpdateHost;
  const std::wstring alternateHost = build_settings::kAlternateUpdateHost;
  struct Case {
    const char* what;
    std::string file;
    std::wstring manifest;
    std::wstring download;
    Messages hostLines;
  } cases[] = {
      {"absent", "", defaultHost, alternateHost, {}},
      {"only spaces is no entry", "SilentAutoUpdateServerDomain=    \r\n", defaultHost, alternateHost, {}},
      {"used unchanged", "SilentAutoUpdateServerDomain=https://h.example:8443/x\r\n", L"https://h.example:8443/x",
       L"https://h.example:8443/x", {L"1628 https://h.example:8443/x", L"1629 https://h.example:8443/x"}},
      {"UTF-8", "SilentAutoUpdateServerDomain=b\xc3\xbc" "cher.example\r\n", L"b\u00fccher.example",
       L"b\u00fccher.example", {L"1628 b\u00fccher.example", L"1629 b\u00fccher.example"}},
      {"text ends at a zero byte", std::string("SilentAutoUpdateServerDomain=h.example\0junk\r\n", 45), L"h.example",
       L"h.example", {L"1628 h.example", L"1629 h.example"}},
      {"a zero byte first converts to nothing: the defaults come back",
       std::string("SilentAutoUpdateServerDomain=\0h\r\n", 33), defaultHost, alternateHost, {}},
  };
  for (const Case& c : cases) {
    ManifestServerHost = defaultHost;
    DownloadServerHost = alternateHost;
    store_.files[kPath] = "SilentAutoUpdateVerboseLogging=1\r\n" + c.file;
    LogCapture log(false);
    ASSERT_TRUE(LoadUpdateSettings()) << c.what;
    EXPECT_EQ(ManifestServerHost, c.manifest) << c.what;
    EXPECT_EQ(DownloadServerHost, c.download) << c.what;
    Messages expected = c.hostLines;
    expected.push_back(L"1614");
    expected.push_back(L"1616");
    EXPECT_EQ(log.Messages(), expected) << c.what;
  }
}

TEST_F(UpdateSettingsTest, AFailedConversionKeepsTheHostAndIsLogged) {
  store_.files[kPath] = "SilentAutoUpdateServerDomain=h.example\r\n";
  DownloadServerHost = L"previous.example";
  conversion_.failUtf8ToWideWith = 1113;
  LogCapture log(false);
  ASSERT_TRUE(LoadUpdateSettings());
  EXPECT_EQ(DownloadServerHost, L"previous.example");
  EXPECT_EQ(ManifestServerHost, build_settings::kDefaultUpdateHost);
  // The error lines are written without verbose logging; the host lines,
  // which still name the hosts kept, only with it.
  EXPECT_EQ(log.Messages(), (Messages{L"1237 1113", L"1238 1113"}));
}

TEST(Utf8ToWide, LeavesTheVariableAloneOnFailure) {
  FakeUtf8Conversion conversion;
  platform::ScopedSeam<platform::Utf8Conversion> seam(&conversion);
  std::wstring out = L"kept";
  EXPECT_TRUE(Utf8ToWide("\xe4\xb8\xad", out));
  EXPECT_EQ(out, L"\u4e2d");
  EXPECT_TRUE(Utf8ToWide("", out));
  EXPECT_EQ(out, L"");
  out = L"kept";
  conversion.failUtf8ToWideWith = 8;
  EXPECT_FALSE(Utf8ToWide("abc", out));
  EXPECT_EQ(out, L"kept");
}

TEST_F(UpdateSettingsTest, RunningOutOfMemoryIsReportedPerStage) {
  store_.files[kPath] = "SilentAutoUpdateEnable=1\r\n";
  // While preparing: the path is computed.
  folders_.runOutOfMemory = true;
  {
    LogCapture log(true);
    EXPECT_FALSE(SetUpdateMode(kUpdateModeNotify));
    EXPECT_FALSE(IsSilentUpdateEnabled());
    EXPECT_FALSE(LoadUpdateSettings());
    EXPECT_EQ(log.Messages(), (Messages{L"1418", L"1419"}));
  }
  folders_.runOutOfMemory = false;
  // While reading the file.
  store_.openRunsOutOfMemory = true;
  {
    LogCapture log(true);
    EXPECT_FALSE(SetUpdateMode(kUpdateModeNotify));
    EXPECT_FALSE(IsSilentUpdateEnabled());
    EXPECT_FALSE(LoadUpdateSettings());
    EXPECT_EQ(log.Messages(), (Messages{L"1428", L"1429"}));
  }
  EXPECT_EQ(store_.files[kPath], "SilentAutoUpdateEnable=1\r\n");
}

}  // namespace
