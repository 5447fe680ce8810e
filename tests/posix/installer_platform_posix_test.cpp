// The POSIX adapters of the installer download against the real system:
// temporary names, files and folders, and the start of another program.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/posix/process_launcher_posix.h"
#include "platform/process_launcher.h"
#include "platform/seam.h"
#include "platform/temp_names.h"
#include "support/utf16.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::FileHandle;
using platform::FileSystem;
using platform::TempNames;

std::wstring Wide(const fs::path& path) { return Utf8ToWideLossy(path.string()); }

class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) saved_ = old;
    hadValue_ = old != nullptr;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (hadValue_) {
      ::setenv(name_, saved_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string saved_;
  bool hadValue_ = false;
};

TEST(PosixTempNames, TheTemporaryFolderIsTmpdirWhenAbsoluteElseTmpWithASeparatorAtTheEnd) {
  TempNames& names = platform::Seam<TempNames>::Get();
  struct Case {
    const char* tmpdir;
    const wchar_t* path;
  } cases[] = {{"/var/tmp", L"/var/tmp/"}, {"/var/tmp/", L"/var/tmp/"}, {"relative", L"/tmp/"}, {nullptr, L"/tmp/"}};
  for (const Case& c : cases) {
    ScopedEnvironment tmpdir("TMPDIR", c.tmpdir);
    platform::StepOr<std::wstring> path = names.TempFolderPath();
    ASSERT_TRUE(path.ok);
    EXPECT_EQ(path.value, c.path) << (c.tmpdir != nullptr ? c.tmpdir : "(unset)");
  }
  const std::string longPath = "/" + std::string(300, 'd');
  ScopedEnvironment tmpdir("TMPDIR", longPath.c_str());
  platform::StepOr<std::wstring> path = names.TempFolderPath();
  EXPECT_FALSE(path.ok);
  EXPECT_EQ(path.error, platform::error::kInsufficientBuffer);
  EXPECT_EQ(platform::LastError(), platform::error::kInsufficientBuffer);
}

TEST(PosixTempNames, GuidsAreNewVersion4GuidsInTheRegistryTextForm) {
  TempNames& names = platform::Seam<TempNames>::Get();
  const std::wregex form(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  std::vector<std::wstring> texts;
  for (int i = 0; i < 3; ++i) {
    platform::StepOr<platform::Guid> guid = names.CreateGuid();
    ASSERT_TRUE(guid.ok);
    texts.push_back(names.GuidText(guid.value));
    EXPECT_EQ(texts.back().size(), 38u);
    EXPECT_TRUE(std::regex_match(texts.back(), form)) << WideToUtf8(texts.back());
  }
  EXPECT_NE(texts[0], texts[1]);
  EXPECT_NE(texts[1], texts[2]);
  // The layout: data1 to data3 as numbers, data4 byte by byte.
  const platform::Guid known{0x0123ABCDu, 0x4567u, 0x89EFu, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  EXPECT_EQ(names.GuidText(known), L"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
}

TEST(PosixTempNames, ATemporaryFileIsCreatedWithItsPrefixAndAFreshName) {
  TempDir dir;
  TempNames& names = platform::Seam<TempNames>::Get();
  platform::StepOr<std::wstring> first = names.CreateTempFile(Wide(dir.Path()) + L"/", L"VPI");
  platform::StepOr<std::wstring> second = names.CreateTempFile(Wide(dir.Path()), L"VPI");
  ASSERT_TRUE(first.ok && second.ok);
  EXPECT_NE(first.value, second.value);
  for (const std::wstring& name : {first.value, second.value}) {
    const fs::path path(WideToUtf8(name));
    EXPECT_EQ(path.parent_path(), dir.Path());
    EXPECT_EQ(path.filename().string().rfind("VPI", 0), 0u) << path;
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0u);
  }

  platform::StepOr<std::wstring> missing = names.CreateTempFile(Wide(dir / "missing"), L"VPI");
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error, 0u);
  EXPECT_EQ(platform::LastError(), missing.error);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

class PosixFiles : public testing::Test {
 protected:
  FileSystem& files = platform::Seam<FileSystem>::Get();
  TempDir dir;

  std::wstring At(const std::string& name) const { return Wide(dir / name); }
  // The failure's error, which must also be the thread's last error.
  template <class Result>
  platform::ErrorNumber ErrorOf(const Result& result) {
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(platform::LastError(), result.error);
    return result.error;
  }
};

TEST_F(PosixFiles, FoldersAreMadePrivateAndRemovedOnlyWhenEmpty) {
  ASSERT_TRUE(files.CreateFolder(At("folder")).ok);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "folder").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(ErrorOf(files.CreateFolder(At("folder"))), platform::error::kAlreadyExists);
  EXPECT_EQ(ErrorOf(files.CreateFolder(At("missing/folder"))), platform::error::kPathNotFound);

  WriteFileBytes(dir / "folder" / "file", "x");
  EXPECT_EQ(ErrorOf(files.RemoveFolder(At("folder"))), 145u);  // ERROR_DIR_NOT_EMPTY
  EXPECT_EQ(ErrorOf(files.RemoveFile(At("folder"))), platform::error::kAccessDenied);
  ASSERT_TRUE(files.RemoveFile(At("folder/file")).ok);
  EXPECT_EQ(ErrorOf(files.RemoveFile(At("folder/file"))), platform::error::kFileNotFound);
  ASSERT_TRUE(files.RemoveFolder(At("folder")).ok);
  EXPECT_FALSE(fs::exists(dir / "folder"));
}

TEST_F(PosixFiles, AFileIsWrittenAnewReadBackAndClosed) {
  WriteFileBytes(dir / "file", "an older and longer content");
  platform::StepOr<FileHandle> written = files.CreateForWriting(At("file"));
  ASSERT_TRUE(written.ok);
  const std::string bytes("\0zero\r\n", 7);
  ASSERT_TRUE(files.Write(written.value, bytes.data(), static_cast<std::uint32_t>(bytes.size())).ok);
  ASSERT_TRUE(files.Write(written.value, "", 0).ok);
  ASSERT_TRUE(files.Close(written.value).ok);
  EXPECT_EQ(ReadFileBytes(dir / "file"), bytes);
  platform::StepOr<FileHandle> fresh = files.CreateForWriting(At("fresh"));
  ASSERT_TRUE(fresh.ok);
  ASSERT_TRUE(files.Close(fresh.value).ok);
  EXPECT_NE(fs::status(dir / "fresh").permissions() & fs::perms::owner_exec, fs::perms::none)
      << "a program written into a new file can be started";

  platform::StepOr<FileHandle> read = files.OpenForReading(At("file"));
  ASSERT_TRUE(read.ok);
  platform::StepOr<std::uint32_t> size = files.FileSize(read.value);
  ASSERT_TRUE(size.ok);
  EXPECT_EQ(size.value, bytes.size());
  char buffer[16] = {};
  platform::StepOr<std::uint32_t> got = files.Read(read.value, buffer, 4);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(got.value, 4u);
  got = files.Read(read.value, buffer + 4, sizeof buffer - 4);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(got.value, 3u);
  EXPECT_EQ(std::string(buffer, 7), bytes);
  got = files.Read(read.value, buffer, sizeof buffer);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(got.value, 0u) << "the end of the file";
  ASSERT_TRUE(files.Close(read.value).ok);
  EXPECT_EQ(ErrorOf(files.Close(read.value)), platform::error::kInvalidHandle);
}

TEST_F(PosixFiles, StepsFailWithTheWindowsErrorNumbers) {
  EXPECT_EQ(ErrorOf(files.OpenForReading(At("missing"))), platform::error::kFileNotFound);
  EXPECT_EQ(ErrorOf(files.CreateForWriting(At("missing/file"))), platform::error::kPathNotFound);
  ASSERT_TRUE(files.CreateFolder(At("folder")).ok);
  EXPECT_EQ(ErrorOf(files.CreateForWriting(At("folder"))), platform::error::kAccessDenied);
  EXPECT_EQ(ErrorOf(files.OpenForReading(At("folder"))), platform::error::kAccessDenied);
  char byte = 0;
  EXPECT_EQ(ErrorOf(files.Read(FileHandle{}, &byte, 1)), platform::error::kInvalidHandle);
  EXPECT_EQ(ErrorOf(files.Write(FileHandle{}, &byte, 1)), platform::error::kInvalidHandle);
  EXPECT_EQ(ErrorOf(files.FileSize(FileHandle{})), platform::error::kInvalidHandle);
  EXPECT_EQ(ErrorOf(files.Close(FileHandle{})), platform::error::kInvalidHandle);
}

TEST(PosixCommandLine, IsSplitByTheWindowsRules) {
  using platform::posix::SplitCommandLine;
  using V = std::vector<std::wstring>;
  EXPECT_EQ(SplitCommandLine(L"VexelPlayerInstaller.exe -install -iv 9"),
            (V{L"VexelPlayerInstaller.exe", L"-install", L"-iv", L"9"}));
  EXPECT_EQ(SplitCommandLine(L"  a\t\tb  "), (V{L"a", L"b"}));
  EXPECT_EQ(SplitCommandLine(L"\"C:\\Program Files\\x.exe\" \"\" q"), (V{L"C:\\Program Files\\x.exe", L"", L"q"}));
  EXPECT_EQ(SplitCommandLine(L"a\\\\b \\\"c\\\" d\\\\\"e f\""), (V{L"a\\\\b", L"\"c\"", L"d\\e f"}));
  EXPECT_EQ(SplitCommandLine(L""), V{});
}

// A program that records its arguments and its current directory.
class PosixLaunch : public testing::Test {
 protected:
  void SetUp() override {
    program = dir / "VexelPlayerInstaller.exe";
    record = dir / "record";
    WriteFileBytes(program, "#!/bin/sh\n{ printf '%s|' \"$@\"; echo; pwd; } > '" + record.string() + ".part'\nmv '" +
                                record.string() + ".part' '" + record.string() + "'\n");
    fs::permissions(program, fs::perms::owner_all);
  }
  std::string WaitForRecord() {
    for (int i = 0; i < 200 && !fs::exists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ReadFileBytes(record);
  }

  TempDir dir;
  fs::path program;
  fs::path record;
  platform::ProcessLauncher& launcher = platform::Seam<platform::ProcessLauncher>::Get();
};

TEST_F(PosixLaunch, StartsTheNamedProgramWithTheArgumentsOfTheCommandLine) {
  TempDir elsewhere;
  ScopedCurrentDirectory cwd(elsewhere.Path());
  std::wstring commandLine = L"VexelPlayerInstaller.exe -install -iv 9";
  const platform::Step started = launcher.StartProcess(Wide(program), commandLine,
                                                       platform::process_flags::kCreateDefaultErrorMode |
                                                           platform::process_flags::kDetachedProcess);
  ASSERT_TRUE(started.ok) << started.error;
  EXPECT_EQ(commandLine, L"VexelPlayerInstaller.exe -install -iv 9");
  EXPECT_EQ(WaitForRecord(), "-install|-iv|9|\n" + fs::canonical(elsewhere.Path()).string() + "\n");
}

TEST_F(PosixLaunch, AProgramThatIsNotThereIsNotStarted) {
  std::wstring commandLine = L"VexelPlayerInstaller.exe -install -iv 9";
  const platform::Step started = launcher.StartProcess(Wide(dir / "missing.exe"), commandLine, 0);
  EXPECT_FALSE(started.ok);
  EXPECT_EQ(started.error, platform::error::kFileNotFound);
  EXPECT_EQ(platform::LastError(), platform::error::kFileNotFound);
  fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(launcher.StartProcess(Wide(program), commandLine, 0).ok) << "not executable";
  EXPECT_EQ(platform::LastError(), platform::error::kAccessDenied);
}

}  // namespace
