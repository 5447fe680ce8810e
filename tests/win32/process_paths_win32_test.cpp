// The Win32 adapters of the foundation against the real Windows API.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/log_file.h"
#include "platform/process_paths.h"
#include "platform/seam.h"

namespace {

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH * 4];
  DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
  return std::wstring(buffer, n);
}

TEST(Win32ProcessPaths, ExpandsARelativeNameAgainstTheCurrentDirectory) {
  auto full = platform::Seam<platform::ProcessPaths>::Get().FullPathName(L"prog.exe");
  ASSERT_TRUE(full.ok);
  std::wstring expected = CurrentDirectory();
  if (expected.back() != L'\\') expected += L'\\';
  EXPECT_EQ(full.value, expected + L"prog.exe");
}

TEST(Win32ProcessPaths, AFullPathLongerThanMaxPathIsReturnedWhole) {
  std::wstring longName = L"C:\\";
  for (int i = 0; i < 30; ++i) longName += L"folder-with-a-long-name\\";
  longName += L"VexelPlayerUpdateService.exe";
  ASSERT_GT(longName.size(), static_cast<std::size_t>(MAX_PATH));
  auto full = platform::Seam<platform::ProcessPaths>::Get().FullPathName(longName);
  ASSERT_TRUE(full.ok);
  EXPECT_EQ(full.value, longName);
}

TEST(Win32Clock, FileTimeAndSystemTimeAgree) {
  auto& clock = platform::Seam<platform::SystemClock>::Get();
  platform::UtcTime utc = clock.NowUtc();
  std::uint64_t ft = clock.NowFileTime();
  SYSTEMTIME st{utc.year, utc.month, 0, utc.day, utc.hour, utc.minute, utc.second, utc.milliseconds};
  FILETIME converted;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &converted));
  std::uint64_t expected = (static_cast<std::uint64_t>(converted.dwHighDateTime) << 32) | converted.dwLowDateTime;
  // The two readings are taken one after the other: within a few seconds.
  EXPECT_LT(ft - expected, 50000000ULL);
}

TEST(Win32SharedAppendFile, AppendsWhileAnotherHandleHoldsTheFileOpen) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::wstring path = std::wstring(temp) + L"vexel-append-test (delete me).log";
  DeleteFileW(path.c_str());
  HANDLE other = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  std::string narrow(path.begin(), path.end());
  auto& file = platform::Seam<platform::SharedAppendFile>::Get();
  EXPECT_TRUE(file.Append(narrow, "ab", 2).ok);
  EXPECT_TRUE(file.Append(narrow, "cd", 2).ok);
  char buffer[8] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(other, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "abcd");
  CloseHandle(other);
  DeleteFileW(path.c_str());
}

TEST(Win32SharedAppendFile, MissingFolderFailsAndCreatesNothing) {
  auto step = platform::Seam<platform::SharedAppendFile>::Get().Append("C:\\vexel-no-such-folder\\x.log", "a", 1);
  EXPECT_FALSE(step.ok);
  EXPECT_EQ(step.error, static_cast<platform::ErrorNumber>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(L"C:\\vexel-no-such-folder"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
