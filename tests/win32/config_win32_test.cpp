// The configuration file, the UTF-8 conversion, the shell folders and the
// file manager against the real Windows API.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "platform/file_store.h"
#include "platform/seam.h"
#include "platform/shell_folders.h"
#include "platform/utf8_conversion.h"
#include "support/file_manager.h"

namespace {

std::string Utf8(const std::wstring& text) { return platform::Seam<platform::Utf8Conversion>::Get().WideToUtf8(text).value; }

std::wstring Lower(std::wstring s) {
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
  return s;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(h);
  return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
  CloseHandle(h);
}

std::vector<std::wstring> Names(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(h, &data));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

void SetAge(const std::wstring& path, std::uint64_t seconds) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= seconds * 10000000ULL;
  FILETIME when{t.LowPart, t.HighPart};
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
  CloseHandle(h);
}

// A fresh folder under the temporary folder, with a name outside ASCII so
// that every path crosses the UTF-8 conversion.
class Win32FolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = std::wstring(temp) + L"vexel-\u00e4\u4e2d-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter_++);
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  }
  void TearDown() override {
    SetFileAttributesW(File(L"vxm.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
    DAZA::WindowsFileManager().DeleteTree(Utf8(folder_));
  }
  std::wstring File(const std::wstring& name) const { return folder_ + L"\\" + name; }
  std::string U(const std::wstring& name) const { return Utf8(File(name)); }

  std::wstring folder_;
  static inline int counter_ = 0;
};

TEST(Win32ShellFolders, SystemFolderIsTheOneA32BitProgramSees) {
  auto folder = platform::Seam<platform::ShellFolders>::Get().SystemFolder();
  ASSERT_TRUE(folder.ok);
  wchar_t expected[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(expected, MAX_PATH), 0u);
  EXPECT_EQ(Lower(folder.value), Lower(expected));
  ForgetConfigFilePath();
  EXPECT_EQ(ConfigFilePath(), Utf8(folder.value) + "\\Kestran\\Vexel\\vxm.cfg");
  ForgetConfigFilePath();
}

TEST(Win32ShellFolders, PerUserFoldersLieBelowTheApplicationDataFolder) {
  auto appData = platform::Seam<platform::ShellFolders>::Get().AppDataFolder();
  ASSERT_TRUE(appData.ok);
  ASSERT_FALSE(appData.value.empty());
  DWORD attributes = GetFileAttributesW(appData.value.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  DAZA::ForgetFolderPaths();
  DAZA::WindowsFileManager manager;
  const std::string base = Utf8(appData.value);
  EXPECT_EQ(manager.AssetCacheFolder(), base + "\\Orrin\\Vexel Player\\AssetCache");
  EXPECT_EQ(manager.OVCacheFolder(), base + "\\Orrin\\Vexel Player\\OVCache");
  EXPECT_EQ(manager.LegacyPlayerFolder(), base + "\\Kestrania\\Vexel Player");
  EXPECT_EQ(manager.PrivateDataFolder(), base + "\\Orrin\\Vexel Player\\OPSPrivateData2");
  EXPECT_EQ(manager.PathSeparator(), "\\");
  DAZA::ForgetFolderPaths();
}

TEST(Win32Utf8Conversion, RoundTripsAndReplacesWhatItCannotConvert) {
  auto& conversion = platform::Seam<platform::Utf8Conversion>::Get();
  const std::wstring wide = L"C:\\B\u00fccher\\\u4e2d\U0001F600";
  const std::string utf8 = "C:\\B\xc3\xbc" "cher\\\xe4\xb8\xad\xf0\x9f\x98\x80";
  EXPECT_EQ(conversion.WideToUtf8(wide).value, utf8);
  EXPECT_EQ(conversion.Utf8ToWide(utf8).value, wide);
  auto empty = conversion.Utf8ToWide("");
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.value, L"");
  auto emptyNarrow = conversion.WideToUtf8(L"");
  EXPECT_TRUE(emptyNarrow.ok);
  EXPECT_EQ(emptyNarrow.value, "");
  auto malformed = conversion.Utf8ToWide("a\xff" "b");
  ASSERT_TRUE(malformed.ok);
  EXPECT_EQ(malformed.value, L"a\ufffdb");
}

TEST_F(Win32FolderTest, SaveCreatesAndReplacesTheFileLeavingNothingElse) {
  ConfigFile missing(U(L"vxm.cfg"));
  missing.Set("SilentAutoUpdateEnable", "1");
  missing.Set("AutoUpdateDisable", "0");
  ASSERT_TRUE(missing.Save());
  EXPECT_EQ(ReadAll(File(L"vxm.cfg")), "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=1\r\n");

  WriteAll(File(L"vxm.cfg"), "\xef\xbb\xbfOther=x\r\nSilentAutoUpdateEnable=1\r\n");
  ConfigFile existing(U(L"vxm.cfg"));
  EXPECT_EQ(existing.Get("Other"), "x");
  existing.Set("SilentAutoUpdateEnable", "0");
  ASSERT_TRUE(existing.Save());
  EXPECT_EQ(ReadAll(File(L"vxm.cfg")), "SilentAutoUpdateEnable=0\r\nOther=x\r\n");
  EXPECT_EQ(Names(folder_), std::vector<std::wstring>{L"vxm.cfg"});
}

TEST_F(Win32FolderTest, AFileThatCannotBeReplacedKeepsItsContent) {
  const std::string before = "SilentAutoUpdateEnable=1\r\n";
  WriteAll(File(L"vxm.cfg"), before);
  // Held open by a program that lets others read and write it, but not
  // delete or rename it.
  HANDLE holder = CreateFileW(File(L"vxm.cfg").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  {
    ConfigFile file(U(L"vxm.cfg"));
    EXPECT_EQ(file.Get("SilentAutoUpdateEnable"), "1") << "reading shares the file";
    file.Set("SilentAutoUpdateEnable", "0");
    EXPECT_FALSE(file.Save());
  }
  CloseHandle(holder);
  EXPECT_EQ(ReadAll(File(L"vxm.cfg")), before);
  EXPECT_EQ(Names(folder_), std::vector<std::wstring>{L"vxm.cfg"});

  // Marked read-only.
  ASSERT_TRUE(SetFileAttributesW(File(L"vxm.cfg").c_str(), FILE_ATTRIBUTE_READONLY));
  ConfigFile file(U(L"vxm.cfg"));
  file.Set("SilentAutoUpdateEnable", "0");
  EXPECT_FALSE(file.Save());
  EXPECT_EQ(ReadAll(File(L"vxm.cfg")), before);
  EXPECT_EQ(Names(folder_), std::vector<std::wstring>{L"vxm.cfg"});
}

TEST_F(Win32FolderTest, AMissingFolderIsNotCreated) {
  auto& store = platform::Seam<platform::FileStore>::Get();
  auto created = store.CreateBeside(U(L"absent\\vxm.cfg"));
  EXPECT_FALSE(created.ok);
  EXPECT_EQ(created.error, static_cast<platform::ErrorNumber>(ERROR_PATH_NOT_FOUND));
  ConfigFile file(U(L"absent\\vxm.cfg"));
  file.Set("a", "1");
  EXPECT_FALSE(file.Save());
  EXPECT_TRUE(Names(folder_).empty());
  auto opened = store.OpenForReading(U(L"vxm.cfg"));
  EXPECT_FALSE(opened.ok);
  EXPECT_EQ(opened.error, static_cast<platform::ErrorNumber>(ERROR_FILE_NOT_FOUND));
  auto notUtf8 = store.OpenForReading(Utf8(folder_) + "\\\xff.cfg");
  EXPECT_FALSE(notUtf8.ok);
  EXPECT_EQ(notUtf8.error, static_cast<platform::ErrorNumber>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(Win32FolderTest, DeleteTreeRemovesATreeAndCountsAMissingPathAsDeleted) {
  DAZA::WindowsFileManager manager;
  ASSERT_TRUE(manager.CreateSubfolder(U(L"tree\\a\\b"), "c"));
  WriteAll(File(L"tree\\a\\b\\c\\file"), "x");
  WriteAll(File(L"tree\\top"), "x");
  EXPECT_TRUE(manager.DeleteTree(U(L"tree")));
  EXPECT_EQ(GetFileAttributesW(File(L"tree").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(manager.DeleteTree(U(L"never-there")));
  EXPECT_TRUE(manager.DeleteTree(U(L"no\\such\\folder")));
}

TEST_F(Win32FolderTest, RemoveAgedFilesDeletesFilesInsideTheAgeWindow) {
  constexpr std::uint64_t kDay = 24 * 60 * 60;
  DAZA::WindowsFileManager manager;
  ASSERT_TRUE(manager.CreateSubfolder(U(L"cache"), "fresh"));
  ASSERT_TRUE(manager.CreateSubfolder(U(L"cache"), "mixed"));
  const struct {
    const wchar_t* name;
    std::uint64_t age;
  } files[] = {{L"cache\\recent", 3600}, {L"cache\\old", 3 * kDay}, {L"cache\\fresh\\one", 60},
               {L"cache\\mixed\\recent", 60}, {L"cache\\mixed\\old", 2 * kDay}};
  for (const auto& f : files) {
    WriteAll(File(f.name), "x");
    SetAge(File(f.name), f.age);
  }
  EXPECT_TRUE(manager.RemoveAgedFiles(U(L"cache"), 0, kDay));
  EXPECT_EQ(Names(File(L"cache")), (std::vector<std::wstring>{L"mixed", L"old"}));
  EXPECT_EQ(Names(File(L"cache\\mixed")), (std::vector<std::wstring>{L"old"}));

  ASSERT_TRUE(manager.CreateSubfolder(U(L"empty\\deep"), "deeper"));
  EXPECT_TRUE(manager.RemoveAgedFiles(U(L"empty"), 0, kDay));
  EXPECT_EQ(GetFileAttributesW(File(L"empty").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(manager.RemoveAgedFiles(U(L"missing"), 0, kDay));
}

TEST_F(Win32FolderTest, SizesListingsAndFolders) {
  DAZA::WindowsFileManager manager;
  ASSERT_TRUE(manager.CreateSubfolder(U(L"f\\sub"), "deeper"));
  WriteAll(File(L"f\\a"), std::string(10, 'x'));
  WriteAll(File(L"f\\sub\\b"), std::string(20, 'x'));
  WriteAll(File(L"f\\sub\\deeper\\c"), std::string(30, 'x'));
  EXPECT_EQ(manager.GetFolderSize(U(L"f")), 60u);
  EXPECT_EQ(manager.GetFolderSize(U(L"f\\sub\\b")), 20u);
  EXPECT_EQ(manager.GetFolderSize(U(L"nothing")), 0u);

  for (const wchar_t* name : {L"list\\b", L"list\\10", L"list\\a", L"list\\9", L"list\\\u00e9"}) {
    CreateDirectoryW(File(L"list").c_str(), nullptr);
    WriteAll(File(name), "x");
  }
  auto names = manager.ListFolderSorted(U(L"list"));
  ASSERT_NE(names, nullptr);
  std::vector<std::string> listed;
  for (std::size_t i = 0; i < names->Count(); ++i) listed.push_back((*names)[i]);
  EXPECT_EQ(listed, (std::vector<std::string>{"a", "b", "\xc3\xa9", "9", "10"}));
  auto missing = manager.ListFolderSorted(U(L"missing"));
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->Count(), 0u);
  EXPECT_EQ(manager.ListFolderSorted(Utf8(folder_) + "\\\xff"), nullptr);

  EXPECT_TRUE(manager.CreateSubfolder(U(L"f\\sub"), "deeper")) << "it exists already";
  EXPECT_FALSE(manager.CreateSubfolder(U(L"f\\a"), "x")) << "the parent is a file";
}

}  // namespace
