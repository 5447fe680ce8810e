// Installing a flavour against fakes of the network, the disk, the temporary
// names and the process launcher, with the real signature check on the test
// packages: the codes of every failure with their error numbers, what stays
// on disk afterwards (nothing, for a failed download), the steps that fail
// and go on, and the launch of exactly the file just written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/update_settings.h"
#include "support/activity_log.h"
#include "platform/last_error.h"
#include "platform/path_separator.h"
#include "platform/seam.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_http_client.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/fake_process_paths.h"
#include "tests/fakes/fake_steady_clock.h"
#include "tests/fakes/log_capture.h"
#include "tests/support/signed_packages.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/allocation_failure.h"
#include "transfer/installer_download.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::UnorderedElementsAreArray;

const std::wstring kSeparator(1, platform::kWidePathSeparator);
const std::wstring kTemp = L"C:" + kSeparator + L"Temp";
const std::wstring kWork = L"C:" + kSeparator + L"Work";
const std::wstring kGuidFolder = kTemp + kSeparator + L"{0123ABCD-4567-89EF-FEDC-BA9876543210}";
const std::wstring kInstaller = kWork + kSeparator + L"VexelPlayerInstaller.exe";

std::string Utf8(const std::wstring& text) { return WideToUtf8(text); }

class InstallerDownload : public testing::Test {
 protected:
  InstallerDownload()
      : names(files),
        httpSeam_(&http),
        clockSeam_(&clock),
        filesSeam_(&files),
        namesSeam_(&names),
        launcherSeam_(&launcher),
        pathsSeam_(&paths),
        savedHost_(DownloadServerHost) {
    http.clock = &clock;
    files.folders = {L"C:", kTemp, kWork};
    files.currentDirectory = kWork;
    names.tempPath = kTemp + kSeparator;
    paths.currentDirectory = kWork + kSeparator;
    DownloadServerHost = L"downloads.example.org";
  }
  ~InstallerDownload() override { DownloadServerHost = savedHost_; }

  struct Outcome {
    bool ok = false;
    std::vector<std::wstring> messages;
    platform::ErrorNumber lastError = 0;  // the thread's, as the call left it
  };
  Outcome Install(Flavour flavour) {
    auto version = std::make_unique<ComponentVersion>();
    version->major = 11;
    version->flavour = flavour;
    LogCapture log(true);
    Outcome outcome;
    platform::SetLastError(0);
    outcome.ok = InstallComponent(version);
    outcome.lastError = platform::LastError();
    outcome.messages = log.Messages();
    return outcome;
  }

  // Whatever the outcome, no handle stays open and none is closed twice.
  void ExpectEverythingClosed() {
    EXPECT_EQ(http.OpenHandles(), 0u);
    EXPECT_EQ(http.badCloses, 0);
    EXPECT_EQ(files.OpenHandles(), 0u);
    EXPECT_EQ(files.badCloses, 0);
  }
  std::vector<std::wstring> LeftInTemp() const { return files.Below(kTemp); }
  bool HasInstaller() const { return files.files.count(kInstaller) != 0; }

 public:
  // Open to the arrangements of the case tables.
  FakeHttpClient http;
  FakeSteadyClock clock;
  FakeFileSystem files;
  FakeTempNames names;
  FakeProcessLauncher launcher;
  FakeProcessPaths paths;

 private:
  platform::ScopedSeam<platform::HttpClient> httpSeam_;
  platform::ScopedSeam<platform::SteadyClock> clockSeam_;
  platform::ScopedSeam<platform::FileSystem> filesSeam_;
  platform::ScopedSeam<platform::TempNames> namesSeam_;
  platform::ScopedSeam<platform::ProcessLauncher> launcherSeam_;
  platform::ScopedSeam<platform::ProcessPaths> pathsSeam_;
  std::wstring savedHost_;
};

TEST_F(InstallerDownload, AFlavourOtherThanTheTwoTouchesNeitherNetworkNorDisk) {
  for (Flavour flavour : {0, 3, -1}) {
    const Outcome outcome = Install(flavour);
    EXPECT_FALSE(outcome.ok) << flavour;
    EXPECT_THAT(outcome.messages, ElementsAre(L"1200")) << flavour;
  }
  LogCapture log(true);
  EXPECT_FALSE(InstallComponent(std::unique_ptr<ComponentVersion>()));
  EXPECT_THAT(log.Messages(), ElementsAre(L"1200"));
  EXPECT_THAT(http.calls, IsEmpty());
  EXPECT_THAT(files.calls, IsEmpty());
  EXPECT_EQ(names.calls, 0);
  EXPECT_THAT(launcher.starts, IsEmpty());
}

// The download and everything after it need a package the built-in
// authority's chain signed: the test packages.
class InstallerDownloadWithPackages : public InstallerDownload {
 protected:
  void SetUp() override {
    folder_ = SignedPackageFolder();
    if (folder_.empty()) {
      if (SignedPackagesMade()) FAIL() << "VEXEL_TEST_PACKAGES is not set: run the tests through ctest";
      GTEST_SKIP() << "this build makes no test packages (an authority given without its key)";
    }
    content = ReadFileBytes(folder_ / "content.bin");
    ASSERT_FALSE(content.empty());
    Serve("valid-direct");
  }

 public:
  // The server's body: the package, in chunks of 4 KiB.
  void Serve(const char* package) {
    const std::string bytes = ReadFileBytes(folder_ / (std::string(package) + ".p7"));
    ASSERT_FALSE(bytes.empty()) << package;
    http.body = FakeHttpClient::Split(bytes, 4096);
  }

  std::string content;

 private:
  std::filesystem::path folder_;
};

TEST_F(InstallerDownloadWithPackages, DownloadsVerifiesWritesAndStartsTheActiveXInstaller) {
  const Outcome outcome = Install(kFlavourActiveX);
  ASSERT_TRUE(outcome.ok) << testing::PrintToString(outcome.messages);
  EXPECT_THAT(outcome.messages, ElementsAre(L"1600", L"1602"));

  // Plain HTTP from the download host on port 80, with the product's agent.
  ASSERT_GE(http.calls.size(), 5u);
  EXPECT_EQ(http.calls[0], "OpenSession Download Vexel Player Installer/1.0");
  EXPECT_EQ(http.calls[1], "Connect downloads.example.org 80");
  EXPECT_EQ(http.calls[2],
            "OpenRequest GET /pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_ax_sgn.z plain");
  EXPECT_EQ(http.calls[3], "SendRequest");
  EXPECT_EQ(http.calls[4], "ReceiveResponse");
  std::vector<std::string> closes;
  for (const std::string& call : http.calls) {
    if (call.rfind("Close", 0) == 0) closes.push_back(call);
  }
  EXPECT_THAT(closes, ElementsAre("CloseRequest", "CloseConnection", "CloseSession"));

  // The body went into vpi.tmp in the GUID folder, which was read back and
  // removed, file first, before the installer was written.
  const std::string download = Utf8(kGuidFolder + kSeparator + L"vpi.tmp");
  std::vector<std::string> disk;
  for (const std::string& call : files.calls) {
    if (call.rfind("Write " + download, 0) == 0 || call.rfind("Read ", 0) == 0) continue;
    disk.push_back(call);
  }
  EXPECT_THAT(disk, ElementsAre("CreateFolder " + Utf8(kGuidFolder), "CreateForWriting " + download,
                                "Close " + download, "OpenForReading " + download, "FileSize " + download,
                                "Close " + download, "RemoveFile " + download, "RemoveFolder " + Utf8(kGuidFolder),
                                "CreateForWriting " + Utf8(kInstaller),
                                "Write " + Utf8(kInstaller) + " " + std::to_string(content.size()),
                                "Close " + Utf8(kInstaller)));
  EXPECT_THAT(LeftInTemp(), IsEmpty());
  ASSERT_TRUE(HasInstaller());
  EXPECT_TRUE(files.files[kInstaller] == content) << "the installer is the signed content, byte for byte";

  // Exactly the file just written, by its full path, with the fixed command line.
  ASSERT_EQ(launcher.starts.size(), 1u);
  EXPECT_EQ(launcher.starts[0].application, kInstaller);
  EXPECT_EQ(launcher.starts[0].commandLine, L"VexelPlayerInstaller.exe -install -iv 9");
  EXPECT_EQ(launcher.starts[0].flags, 0x04000000u | 0x00000008u);  // CREATE_DEFAULT_ERROR_MODE | DETACHED_PROCESS
  ExpectEverythingClosed();
}

TEST_F(InstallerDownloadWithPackages, ThePluginComesFromItsOwnPathAndReplacesAnExistingInstaller) {
  files.files[kInstaller] = "an older installer";
  const Outcome outcome = Install(kFlavourPlugin);
  ASSERT_TRUE(outcome.ok) << testing::PrintToString(outcome.messages);
  EXPECT_THAT(outcome.messages, ElementsAre(L"1601", L"1602"));
  ASSERT_GE(http.calls.size(), 3u);
  EXPECT_EQ(http.calls[2],
            "OpenRequest GET /pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_pl_sgn.z plain");
  EXPECT_TRUE(files.files[kInstaller] == content);
  EXPECT_THAT(LeftInTemp(), IsEmpty());
  ExpectEverythingClosed();
}

enum class Installer { kNone, kWritten, kPartial };

struct FailureCase {
  const char* name;
  void (*arrange)(InstallerDownloadWithPackages&);
  std::vector<std::wstring> messages;  // after the start code 1600
  Installer installer = Installer::kNone;
  std::vector<std::wstring> leftInTemp = {};
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c) { return out << c.name; }

class InstallerFailure : public InstallerDownloadWithPackages, public testing::WithParamInterface<FailureCase> {};

// Each failure ends the installation with its code and the error number of
// the step that failed; a failed download leaves nothing in the temporary
// folder.
TEST_P(InstallerFailure, EndsWithItsCodeAndLeavesNoDownloadBehind) {
  const FailureCase& c = GetParam();
  c.arrange(*this);
  const Outcome outcome = Install(kFlavourActiveX);
  EXPECT_FALSE(outcome.ok);
  std::vector<std::wstring> expected{L"1600"};
  expected.insert(expected.end(), c.messages.begin(), c.messages.end());
  EXPECT_EQ(outcome.messages, expected);
  // The thread's last error is the failing step's, whatever was released
  // or removed after it.
  for (const std::wstring& m : c.messages) {
    if (m.rfind(L"12", 0) != 0) continue;
    EXPECT_EQ(FormatNumber(static_cast<std::int32_t>(outcome.lastError)), m.substr(m.find(L' ') + 1));
    break;
  }
  EXPECT_THAT(LeftInTemp(), UnorderedElementsAreArray(c.leftInTemp));
  switch (c.installer) {
    case Installer::kNone:
      EXPECT_FALSE(HasInstaller());
      EXPECT_THAT(launcher.starts, IsEmpty());
      break;
    case Installer::kWritten:
      EXPECT_TRUE(HasInstaller() && files.files[kInstaller] == content);
      break;
    case Installer::kPartial:
      EXPECT_TRUE(HasInstaller() && files.files[kInstaller] != content);
      EXPECT_THAT(launcher.starts, IsEmpty());
      break;
  }
  ExpectEverythingClosed();
}

using T = InstallerDownloadWithPackages;
const std::wstring kFallbackFile = kTemp + kSeparator + L"VPIA1.tmp";
constexpr platform::ErrorNumber kNoGuid = 0x80004005u;

INSTANTIATE_TEST_SUITE_P(
    EveryStep, InstallerFailure,
    testing::Values(
        FailureCase{"session", [](T& t) { t.http.failures["OpenSession"] = 12004; }, {L"1214 12004"}},
        FailureCase{"connect", [](T& t) { t.http.failures["Connect"] = 12007; }, {L"1214 12007"}},
        FailureCase{"request", [](T& t) { t.http.failures["OpenRequest"] = 12006; }, {L"1214 12006"}},
        FailureCase{"send", [](T& t) { t.http.failures["SendRequest"] = 12029; }, {L"1214 12029"}},
        FailureCase{"receive", [](T& t) { t.http.failures["ReceiveResponse"] = 12152; }, {L"1214 12152"}},
        FailureCase{"temp_path", [](T& t) { t.names.tempPathError = 122; }, {L"1201 122"}},
        FailureCase{"fallback_name",
                    [](T& t) {
                      t.names.guidError = kNoGuid;
                      t.names.tempFileError = 5;
                    },
                    {L"1426", L"1203 5"}},
        // The temporary file that could not be deleted is all that stays.
        FailureCase{"fallback_delete",
                    [](T& t) {
                      t.names.guidError = kNoGuid;
                      t.files.Fail("RemoveFile", 5, L"VPI");
                    },
                    {L"1426", L"1205 5"},
                    Installer::kNone,
                    {kFallbackFile}},
        FailureCase{"folder", [](T& t) { t.files.Fail("CreateFolder", 183); }, {L"1206 183"}},
        FailureCase{"download_file", [](T& t) { t.files.Fail("CreateForWriting", 5, L"vpi.tmp"); }, {L"1207 5"}},
        FailureCase{"query", [](T& t) { t.http.body[2].queryError = 12030; }, {L"1209 12030"}},
        // A count that would take the package past its size limit.
        FailureCase{"too_large",
                    [](T& t) {
                      t.http.body[2].overrideCount = true;
                      t.http.body[2].count = 0xFFFFFFFFu;
                    },
                    {L"1210 8"}},
        FailureCase{"read", [](T& t) { t.http.body[2].readError = 10054; }, {L"1211 10054"}},
        // An hour on each query: the second one finds the deadline passed.
        FailureCase{"late", [](T& t) { t.http.millisecondsPerQuery = 3600u * 1000u; }, {L"1211 12002"}},
        FailureCase{"chunk_write", [](T& t) { t.files.Fail("Write", 112, L"vpi.tmp", 1); }, {L"1212 112"}},
        // The removal after a failure is logged when it fails itself.
        FailureCase{"cleanup_after_failure",
                    [](T& t) {
                      t.http.body[1].readError = 12030;
                      t.files.Fail("RemoveFile", 32, L"vpi.tmp");
                    },
                    {L"1211 12030", L"1414 32", L"1415 145"},
                    Installer::kNone,
                    {kGuidFolder, kGuidFolder + kSeparator + L"vpi.tmp"}},
        FailureCase{"error_page",
                    [](T& t) { t.http.body = FakeHttpClient::Split("<html><h1>404 Not Found</h1></html>", 64); },
                    {L"1217 -2146881269"}},  // CRYPT_E_ASN1_BADTAG
        // An empty body cannot be read back: the package is empty.
        FailureCase{"empty_body", [](T& t) { t.http.body.clear(); }, {L"1217 -2146881278"}},  // CRYPT_E_ASN1_EOD
        FailureCase{"download_read_back", [](T& t) { t.files.Fail("OpenForReading", 5, L"vpi.tmp"); },
                    {L"1217 -2146881278"}},
        FailureCase{"altered_content", [](T& t) { t.Serve("altered-content"); },
                    {L"1217 -2146893818"}},  // NTE_BAD_SIGNATURE
        FailureCase{"installer_file", [](T& t) { t.files.Fail("CreateForWriting", 5, L"VexelPlayerInstaller"); },
                    {L"1215 5"}},
        // The partly written installer stays, and is not started.
        FailureCase{"installer_write", [](T& t) { t.files.Fail("Write", 112, L"VexelPlayerInstaller"); },
                    {L"1216 112"}, Installer::kPartial},
        FailureCase{"launch", [](T& t) { t.launcher.failWith = 2; }, {L"1218 2"}, Installer::kWritten},
        FailureCase{"installer_path", [](T& t) { t.paths.failWith = 87; }, {L"1218 87"}, Installer::kWritten}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

struct GoingOnCase {
  const char* name;
  void (*arrange)(InstallerDownloadWithPackages&);
  std::vector<std::wstring> messages;  // between 1600 and 1602
  std::vector<std::wstring> leftInTemp = {};
};

std::ostream& operator<<(std::ostream& out, const GoingOnCase& c) { return out << c.name; }

class InstallerGoesOn : public InstallerDownloadWithPackages, public testing::WithParamInterface<GoingOnCase> {};

// These failures are warnings: the installation still succeeds.
TEST_P(InstallerGoesOn, LogsTheWarningAndStillStartsTheInstaller) {
  const GoingOnCase& c = GetParam();
  c.arrange(*this);
  const Outcome outcome = Install(kFlavourActiveX);
  EXPECT_TRUE(outcome.ok);
  std::vector<std::wstring> expected{L"1600"};
  expected.insert(expected.end(), c.messages.begin(), c.messages.end());
  expected.push_back(L"1602");
  EXPECT_EQ(outcome.messages, expected);
  EXPECT_THAT(LeftInTemp(), UnorderedElementsAreArray(c.leftInTemp));
  EXPECT_TRUE(HasInstaller() && files.files[kInstaller] == content);
  ASSERT_EQ(launcher.starts.size(), 1u);
  EXPECT_EQ(launcher.starts[0].application, kInstaller);
  ExpectEverythingClosed();
}

INSTANTIATE_TEST_SUITE_P(
    Warnings, InstallerGoesOn,
    testing::Values(
        GoingOnCase{"close_download", [](T& t) { t.files.Fail("Close", 5, L"vpi.tmp"); }, {L"1413 5"}},
        // The file stays, and with it the folder, which is not empty.
        GoingOnCase{"delete_download",
                    [](T& t) { t.files.Fail("RemoveFile", 5, L"vpi.tmp"); },
                    {L"1414 5", L"1415 145"},
                    {kGuidFolder, kGuidFolder + kSeparator + L"vpi.tmp"}},
        GoingOnCase{"remove_folder", [](T& t) { t.files.Fail("RemoveFolder", 5); }, {L"1415 5"}, {kGuidFolder}},
        GoingOnCase{"close_installer", [](T& t) { t.files.Fail("Close", 5, L"VexelPlayerInstaller"); }, {L"1417 5"}},
        GoingOnCase{"no_guid", [](T& t) { t.names.guidError = kNoGuid; }, {L"1426"}},
        GoingOnCase{"no_guid_text", [](T& t) { t.names.guidTextFails = true; }, {L"1425", L"1426"}}),
    [](const testing::TestParamInfo<GoingOnCase>& info) { return std::string(info.param.name); });

TEST_F(InstallerDownloadWithPackages, WithoutAGuidTheDownloadGoesIntoTheFallbackFolder) {
  names.guidError = kNoGuid;
  const Outcome outcome = Install(kFlavourActiveX);
  ASSERT_TRUE(outcome.ok);
  // The temporary file was made and deleted, and its name became the folder.
  const std::string fallback = Utf8(kFallbackFile);
  std::vector<std::string> naming(files.calls.begin(), files.calls.begin() + 3);
  EXPECT_THAT(naming, ElementsAre("RemoveFile " + fallback, "CreateFolder " + fallback,
                                  "CreateForWriting " + fallback + Utf8(kSeparator) + "vpi.tmp"));
  EXPECT_THAT(LeftInTemp(), IsEmpty());
}

TEST_F(InstallerDownloadWithPackages, NoMemoryForAChunkEndsTheDownloadAsTooLarge) {
  // One chunk of a size no other allocation has, and its buffer one byte longer.
  http.body[1].bytes.resize(77777, 'x');
  ScopedAllocationFailure failure(77778, 77778);
  const Outcome outcome = Install(kFlavourActiveX);
  EXPECT_TRUE(failure.Triggered());
  EXPECT_FALSE(outcome.ok);
  EXPECT_THAT(outcome.messages, ElementsAre(L"1600", L"1210 8"));
  EXPECT_THAT(LeftInTemp(), IsEmpty());
  ExpectEverythingClosed();
}

TEST_F(InstallerDownloadWithPackages, NoMemoryForTheCommandLineEndsTheInstallationBeforeTheLaunch) {
  // Armed once the installer file is closed: the next allocation of the
  // command line's size is the command line's.
  const std::size_t size = (std::wstring(kInstallerCommandLine).size() + 1) * sizeof(wchar_t);
  std::optional<ScopedAllocationFailure> failure;
  files.afterCall = [&](const std::string& call) {
    if (call == "Close " + Utf8(kInstaller)) failure.emplace(size, size);
  };
  const Outcome outcome = Install(kFlavourActiveX);
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->Triggered());
  EXPECT_FALSE(outcome.ok);
  EXPECT_THAT(outcome.messages, ElementsAre(L"1600", L"1235 8"));
  EXPECT_THAT(launcher.starts, IsEmpty());
}

TEST_F(InstallerDownload, LaunchStartsTheInstallerOfTheCurrentDirectoryByItsFullPath) {
  std::wstring commandLine = L"VexelPlayerInstaller.exe -install -iv 9";
  LogCapture log(true);
  EXPECT_TRUE(LaunchInstaller(commandLine));
  EXPECT_THAT(log.Messages(), ElementsAre(L"1602"));
  ASSERT_EQ(launcher.starts.size(), 1u);
  EXPECT_EQ(launcher.starts[0].application, kWork + kSeparator + L"VexelPlayerInstaller.exe");
  EXPECT_EQ(launcher.starts[0].commandLine, commandLine);
  EXPECT_EQ(commandLine, L"VexelPlayerInstaller.exe -install -iv 9");
}

struct ReadCase {
  const char* name;
  void (*arrange)(FakeFileSystem&);
  bool ok;
};

std::ostream& operator<<(std::ostream& out, const ReadCase& c) { return out << c.name; }

class ReadWholeFileCase : public InstallerDownload, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadWholeFileCase, ReadsEveryByteOrNothing) {
  const ReadCase& c = GetParam();
  const std::wstring path = kTemp + kSeparator + L"file";
  const std::string bytes = std::string("\0\1 some bytes\r\n", 16) + std::string(5000, 'z');
  files.files[path] = bytes;
  c.arrange(files);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[4]);
  std::size_t size = 4;
  LogCapture log(true);
  EXPECT_EQ(ReadWholeFile(path, buffer, size), c.ok);
  if (c.ok) {
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.get()), size), files.files[path]);
  } else {
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
  }
  EXPECT_THAT(log.Messages(), IsEmpty());
  EXPECT_EQ(files.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadWholeFileCase,
    testing::Values(ReadCase{"whole", [](FakeFileSystem&) {}, true},
                    ReadCase{"in_pieces", [](FakeFileSystem& f) { f.largestRead = 1000; }, true},
                    ReadCase{"missing", [](FakeFileSystem& f) { f.files.clear(); }, false},
                    ReadCase{"cannot_open", [](FakeFileSystem& f) { f.Fail("OpenForReading", 5); }, false},
                    ReadCase{"empty", [](FakeFileSystem& f) { f.files.begin()->second.clear(); }, false},
                    ReadCase{"no_size", [](FakeFileSystem& f) { f.Fail("FileSize", 6); }, false},
                    ReadCase{"read_fails", [](FakeFileSystem& f) { f.Fail("Read", 23); }, false},
                    ReadCase{"read_fails_midway",
                             [](FakeFileSystem& f) {
                               f.largestRead = 1000;
                               f.Fail("Read", 23, L"", 2);
                             },
                             false},
                    // The file ends before its reported size: a read of 0 ends the reading.
                    ReadCase{"shorter_than_its_size",
                             [](FakeFileSystem& f) {
                               f.overrideSize = true;
                               f.reportedSize = 6000;
                             },
                             false}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(InstallerDownload, ReadWholeFileFailsWhenTheBufferCannotBeAllocated) {
  const std::wstring path = kTemp + kSeparator + L"file";
  files.files[path] = std::string(54321, 'q');
  std::unique_ptr<std::uint8_t[]> buffer;
  std::size_t size = 0;
  ScopedAllocationFailure failure(54321, 54321);
  EXPECT_FALSE(ReadWholeFile(path, buffer, size));
  EXPECT_TRUE(failure.Triggered());
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(files.OpenHandles(), 0u);
}

}  // namespace
