// The installer download under wine: the Win32 adapters of temporary names,
// files and process creation against the real Windows API, and the whole
// installation against the local package server (tests/e2e/servers.py on
// port 80), which the scenario tests/e2e/test_install.py starts. Without the
// server those cases are skipped.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/update_settings.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/process_launcher.h"
#include "platform/seam.h"
#include "platform/temp_names.h"
#include "support/utf16.h"
#include "tests/fakes/log_capture.h"
#include "tests/support/temp_dir.h"
#include "transfer/installer_download.h"

namespace {

namespace fs = std::filesystem;
using platform::FileHandle;
using platform::FileSystem;
using platform::TempNames;

TEST(Win32TempNames, TheTemporaryFolderEndsWithABackslashAndExists) {
  platform::StepOr<std::wstring> path = platform::Seam<TempNames>::Get().TempFolderPath();
  ASSERT_TRUE(path.ok) << path.error;
  ASSERT_FALSE(path.value.empty());
  EXPECT_EQ(path.value.back(), L'\\');
  EXPECT_TRUE(fs::is_directory(fs::path(path.value)));
}

TEST(Win32TempNames, GuidsAreNewAndInTheRegistryTextForm) {
  TempNames& names = platform::Seam<TempNames>::Get();
  const std::wregex form(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  std::set<std::wstring> texts;
  for (int i = 0; i < 3; ++i) {
    platform::StepOr<platform::Guid> guid = names.CreateGuid();
    ASSERT_TRUE(guid.ok) << guid.error;
    const std::wstring text = names.GuidText(guid.value);
    EXPECT_EQ(text.size(), 38u);
    EXPECT_TRUE(std::regex_match(text, form)) << WideToUtf8(text);
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), 3u);
  const platform::Guid known{0x0123ABCDu, 0x4567u, 0x89EFu, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  EXPECT_EQ(names.GuidText(known), L"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
}

TEST(Win32TempNames, ATemporaryFileIsCreatedWithThePrefixInTheFolder) {
  TempDir dir;
  const std::wstring folder = dir.Path().wstring() + L"\\";
  platform::StepOr<std::wstring> file = platform::Seam<TempNames>::Get().CreateTempFile(folder, L"VPI");
  ASSERT_TRUE(file.ok) << file.error;
  const fs::path path(file.value);
  EXPECT_EQ(path.parent_path(), dir.Path());
  EXPECT_EQ(path.filename().wstring().rfind(L"VPI", 0), 0u) << path.string();
  EXPECT_TRUE(fs::is_regular_file(path));

  platform::StepOr<std::wstring> missing =
      platform::Seam<TempNames>::Get().CreateTempFile(folder + L"missing\\", L"VPI");
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error, 0u);
}

class Win32Files : public testing::Test {
 protected:
  FileSystem& files = platform::Seam<FileSystem>::Get();
  TempDir dir;
  std::wstring At(const wchar_t* name) const { return dir.Path().wstring() + L"\\" + name; }
  template <class Result>
  platform::ErrorNumber ErrorOf(const Result& result) {
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(GetLastError(), result.error);
    return result.error;
  }
};

TEST_F(Win32Files, FoldersAndFilesWithWindowsErrorNumbers) {
  ASSERT_TRUE(files.CreateFolder(At(L"folder")).ok);
  EXPECT_EQ(ErrorOf(files.CreateFolder(At(L"folder"))), static_cast<platform::ErrorNumber>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ErrorOf(files.CreateFolder(At(L"missing\\folder"))),
            static_cast<platform::ErrorNumber>(ERROR_PATH_NOT_FOUND));

  platform::StepOr<FileHandle> written = files.CreateForWriting(At(L"folder\\vpi.tmp"));
  ASSERT_TRUE(written.ok) << written.error;
  // Open without sharing: neither opened again nor deleted while it is.
  EXPECT_EQ(ErrorOf(files.CreateForWriting(At(L"folder\\vpi.tmp"))),
            static_cast<platform::ErrorNumber>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ErrorOf(files.RemoveFile(At(L"folder\\vpi.tmp"))),
            static_cast<platform::ErrorNumber>(ERROR_SHARING_VIOLATION));
  const std::string bytes("\0zero\r\n", 7);
  ASSERT_TRUE(files.Write(written.value, bytes.data(), static_cast<std::uint32_t>(bytes.size())).ok);
  ASSERT_TRUE(files.Close(written.value).ok);
  EXPECT_EQ(ErrorOf(files.RemoveFolder(At(L"folder"))), static_cast<platform::ErrorNumber>(ERROR_DIR_NOT_EMPTY));

  platform::StepOr<FileHandle> read = files.OpenForReading(At(L"folder\\vpi.tmp"));
  ASSERT_TRUE(read.ok) << read.error;
  platform::StepOr<std::uint32_t> size = files.FileSize(read.value);
  ASSERT_TRUE(size.ok);
  EXPECT_EQ(size.value, bytes.size());
  char buffer[16] = {};
  platform::StepOr<std::uint32_t> got = files.Read(read.value, buffer, sizeof buffer);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(std::string(buffer, got.value), bytes);
  got = files.Read(read.value, buffer, sizeof buffer);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(got.value, 0u);
  ASSERT_TRUE(files.Close(read.value).ok);

  ASSERT_TRUE(files.RemoveFile(At(L"folder\\vpi.tmp")).ok);
  EXPECT_EQ(ErrorOf(files.OpenForReading(At(L"folder\\vpi.tmp"))),
            static_cast<platform::ErrorNumber>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(files.RemoveFolder(At(L"folder")).ok);
  EXPECT_FALSE(fs::exists(At(L"folder")));
  EXPECT_EQ(ErrorOf(files.Close(FileHandle{})), static_cast<platform::ErrorNumber>(ERROR_INVALID_HANDLE));
}

TEST_F(Win32Files, AnExistingFileIsEmptiedAndRewritten) {
  WriteFileBytes(dir / "VexelPlayerInstaller.exe", "an older and longer installer");
  platform::StepOr<FileHandle> written = files.CreateForWriting(At(L"VexelPlayerInstaller.exe"));
  ASSERT_TRUE(written.ok) << written.error;
  ASSERT_TRUE(files.Write(written.value, "new", 3).ok);
  ASSERT_TRUE(files.Close(written.value).ok);
  EXPECT_EQ(ReadFileBytes(dir / "VexelPlayerInstaller.exe"), "new");
}

TEST(Win32ProcessLauncher, AProgramThatIsNotThereIsNotStarted) {
  TempDir dir;
  std::wstring commandLine = L"VexelPlayerInstaller.exe -install -iv 9";
  const platform::Step started = platform::Seam<platform::ProcessLauncher>::Get().StartProcess(
      dir.Path().wstring() + L"\\VexelPlayerInstaller.exe", commandLine,
      platform::process_flags::kCreateDefaultErrorMode | platform::process_flags::kDetachedProcess);
  EXPECT_FALSE(started.ok);
  EXPECT_EQ(started.error, static_cast<platform::ErrorNumber>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(commandLine, L"VexelPlayerInstaller.exe -install -iv 9");
}

// ---- against the local package server ---------------------------------

// The platform's temporary names, noting the folder names the download
// takes from them.
class NotingTempNames final : public TempNames {
 public:
  platform::StepOr<std::wstring> TempFolderPath() override {
    platform::StepOr<std::wstring> path = real_.TempFolderPath();
    if (path) tempPath = path.value;
    return path;
  }
  platform::StepOr<platform::Guid> CreateGuid() override { return real_.CreateGuid(); }
  std::wstring GuidText(const platform::Guid& guid) override {
    std::wstring text = real_.GuidText(guid);
    if (!text.empty()) folders.push_back(tempPath + text);
    return text;
  }
  platform::StepOr<std::wstring> CreateTempFile(const std::wstring& folder, const std::wstring& prefix) override {
    platform::StepOr<std::wstring> file = real_.CreateTempFile(folder, prefix);
    if (file) folders.push_back(file.value);
    return file;
  }

  std::wstring tempPath;
  std::vector<std::wstring> folders;

 private:
  TempNames& real_ = platform::PlatformDefault<TempNames>();
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Windows reports a reset as ERROR_WINHTTP_CONNECTION_ERROR; wine's WinHTTP
// hands on the socket's WSAECONNRESET.
bool IsResetError(const std::wstring& number) { return number == L"12030" || number == L"10054"; }

// The message with its number replaced by "E" when `accept` takes it.
std::wstring Generalised(const std::wstring& message, bool (*accept)(const std::wstring&)) {
  const std::size_t blank = message.find(L' ');
  if (blank == std::wstring::npos || !accept(message.substr(blank + 1))) return message;
  return message.substr(0, blank) + L" E";
}
bool AnyNonZero(const std::wstring& number) { return number != L"0"; }

class InstallerAgainstServers : public testing::Test {
 protected:
  void SetUp() override {
    const std::string port = Environment("VEXEL_TEST_HTTP_PORT");
    const std::string installer = Environment("VEXEL_TEST_INSTALLER");
    if (port.empty() || installer.empty()) {
      GTEST_SKIP() << "the local package server is not running (see tests/e2e/test_install.py)";
    }
    httpPort_ = static_cast<std::uint16_t>(std::atoi(port.c_str()));
    installerBytes_ = ReadFileBytes(fs::path(installer));
    ASSERT_FALSE(installerBytes_.empty()) << installer;
  }

  struct Outcome {
    bool ok = false;
    std::vector<std::wstring> messages;
    std::vector<std::wstring> folders;  // the temporary folders the download named
  };
  template <class F>
  Outcome Run(F install) {
    NotingTempNames names;
    platform::ScopedSeam<TempNames> seam(&names);
    LogCapture log(true);
    Outcome outcome;
    outcome.ok = install();
    outcome.messages = log.Messages();
    outcome.folders = names.folders;
    return outcome;
  }

  // Nothing of the download is left: neither the folders it named nor
  // anything else new in the temporary folder.
  static void ExpectNoDownloadLeft(const Outcome& outcome, const std::set<fs::path>& tempBefore) {
    EXPECT_EQ(outcome.folders.size(), 1u);
    for (const std::wstring& folder : outcome.folders) {
      EXPECT_FALSE(fs::exists(fs::path(folder))) << WideToUtf8(folder);
    }
    EXPECT_EQ(TempEntries(), tempBefore);
  }
  static std::set<fs::path> TempEntries() {
    std::set<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) entries.insert(entry.path());
    return entries;
  }

  // The record the test installer leaves beside itself, once it is whole.
  static std::string WaitForRecord(const fs::path& installer) {
    const fs::path record = installer.wstring() + L".record";
    for (int i = 0; i < 600; ++i) {
      const std::string text = fs::exists(record) ? ReadFileBytes(record) : std::string();
      if (text.find("\r\nend\r\n") != std::string::npos) return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::string();
  }

  std::uint16_t httpPort_ = 0;
  std::string installerBytes_;
};

TEST_F(InstallerAgainstServers, TheActiveXInstallerIsDownloadedVerifiedWrittenAndStartedByItsFullPath) {
  if (httpPort_ != kPackagePort) GTEST_SKIP() << "the package server is not on port 80";
  // A folder of its own as the current directory, holding an installer of
  // an earlier installation, which is replaced.
  const fs::path work = fs::current_path() / "activex";
  fs::create_directories(work);
  WriteFileBytes(work / "VexelPlayerInstaller.exe", "an earlier installer");
  ScopedCurrentDirectory cwd(work);
  const std::set<fs::path> tempBefore = TempEntries();
  const std::wstring savedHost = DownloadServerHost;
  DownloadServerHost = L"localhost";
  auto version = std::make_unique<ComponentVersion>();
  version->flavour = kFlavourActiveX;
  const Outcome outcome = Run([&] { return InstallComponent(version); });
  DownloadServerHost = savedHost;

  ASSERT_TRUE(outcome.ok) << testing::PrintToString(outcome.messages);
  EXPECT_EQ(outcome.messages, (std::vector<std::wstring>{L"1600", L"1602"}));
  ExpectNoDownloadLeft(outcome, tempBefore);
  const fs::path installer = work / "VexelPlayerInstaller.exe";
  EXPECT_TRUE(ReadFileBytes(installer) == installerBytes_) << "the installer is the signed program, byte for byte";

  const std::string record = WaitForRecord(installer);
  ASSERT_FALSE(record.empty()) << "the installer did not run";
  EXPECT_NE(record.find("\r\ncommand line=VexelPlayerInstaller.exe -install -iv 9\r\n"), std::string::npos) << record;
  EXPECT_NE(record.find("\r\ncurrent directory=" + WideToUtf8(work.wstring()) + "\r\n"), std::string::npos) << record;
  // Exactly the file just written ran; the scenario checks that the file of
  // that name in this program's own folder did not.
  const std::string program = record.substr(0, record.find("\r\n"));
  EXPECT_EQ(CompareStringOrdinal(Utf8ToWideLossy(program).c_str(), -1,
                                 (L"program=" + installer.wstring()).c_str(), -1, TRUE),
            CSTR_EQUAL)
      << record;
}

TEST_F(InstallerAgainstServers, ATamperedPackageLeavesNothingOnDisk) {
  struct Case {
    const char* name;
    bool product;  // the plug-in through the product's own download, else this path
    const wchar_t* path;
  } cases[] = {
      // The signed content altered: the plug-in's package on the server.
      {"altered-content", true, nullptr},
      // The signature's last byte altered.
      {"altered-signature", false, L"/tampered/signature/install_all_win_ax_sgn.z"},
  };
  for (const Case& c : cases) {
    if (c.product && httpPort_ != kPackagePort) continue;
    const fs::path work = fs::current_path() / c.name;
    fs::create_directories(work);
    ScopedCurrentDirectory cwd(work);
    const std::set<fs::path> tempBefore = TempEntries();
    const std::wstring savedHost = DownloadServerHost;
    DownloadServerHost = L"localhost";
    auto version = std::make_unique<ComponentVersion>();
    version->flavour = kFlavourPlugin;
    const Outcome outcome = Run([&] {
      return c.product ? InstallComponent(version)
                       : DownloadPackage(PackageSource{L"localhost", httpPort_, c.path, kPackageLimits});
    });
    DownloadServerHost = savedHost;

    EXPECT_FALSE(outcome.ok) << c.name;
    std::vector<std::wstring> messages;
    for (const std::wstring& m : outcome.messages) messages.push_back(Generalised(m, AnyNonZero));
    EXPECT_EQ(messages, c.product ? (std::vector<std::wstring>{L"1601", L"1217 E"})
                                  : (std::vector<std::wstring>{L"1217 E"}))
        << c.name << ": " << testing::PrintToString(outcome.messages);
    ExpectNoDownloadLeft(outcome, tempBefore);
    EXPECT_FALSE(fs::exists(work / "VexelPlayerInstaller.exe")) << c.name;
  }
}

TEST_F(InstallerAgainstServers, EachFaultOfTheServerEndsInItsCode) {
  struct Case {
    const char* mode;
    bool ok;
    std::vector<std::wstring> messages;
  } cases[] = {
      {"ok", true, {}},
      // An error page or nothing at all instead of the package.
      {"404", false, {L"1217 E"}},
      {"500", false, {L"1217 E"}},
      {"empty", false, {L"1217 E"}},
      // Bytes after the end of the signed message change nothing it signs.
      {"zero-after", true, {}},
      {"zero-inside", false, {L"1217 E"}},
      {"reset", false, {L"reset"}},
      // A body far past the size limit, and one that trickles past the deadline.
      {"huge", false, {L"1210 8"}},
      {"slow", false, {L"1211 12002"}},
  };
  // A mebibyte and seconds instead of the build's limits keep the cases
  // short; the bounds work the same.
  const TransferLimits limits{1024u * 1024u, 5000u};
  for (const Case& c : cases) {
    const fs::path work = fs::current_path() / (std::string("fault-") + c.mode);
    fs::create_directories(work);
    ScopedCurrentDirectory cwd(work);
    const std::set<fs::path> tempBefore = TempEntries();
    const std::wstring path = L"/fault/" + Utf8ToWideLossy(c.mode) + L"/install_all_win_ax_sgn.z";
    const Outcome outcome = Run([&] { return DownloadPackage(PackageSource{L"localhost", httpPort_, path, limits}); });

    EXPECT_EQ(outcome.ok, c.ok) << c.mode << ": " << testing::PrintToString(outcome.messages);
    std::vector<std::wstring> messages;
    for (const std::wstring& m : outcome.messages) {
      const std::size_t blank = m.find(L' ');
      const std::wstring code = m.substr(0, blank);
      const std::wstring number = blank == std::wstring::npos ? std::wstring() : m.substr(blank + 1);
      if (code == L"1217") {
        messages.push_back(Generalised(m, AnyNonZero));
      } else if ((code == L"1209" || code == L"1211") && IsResetError(number)) {
        // A reset shows as a failed query or a failed read, whichever meets it.
        messages.push_back(L"reset");
      } else {
        messages.push_back(m);
      }
    }
    EXPECT_EQ(messages, c.messages) << c.mode << ": " << testing::PrintToString(outcome.messages);
    ExpectNoDownloadLeft(outcome, tempBefore);
    EXPECT_EQ(fs::exists(work / "VexelPlayerInstaller.exe"), c.ok) << c.mode;
    if (c.ok) {
      EXPECT_TRUE(ReadFileBytes(work / "VexelPlayerInstaller.exe") == installerBytes_) << c.mode;
    }
  }
}

}  // namespace
