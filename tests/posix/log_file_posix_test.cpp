// The activity log against the real file system of the host.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "config/update_settings.h"
#include "support/activity_log.h"
#include "support/utf16.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = UpdateSettings.verboseLogging;
    UpdateSettings.verboseLogging = true;
  }
  void TearDown() override { UpdateSettings.verboseLogging = saved_; }
  TempDir dir_;
  bool saved_ = false;
};

TEST_F(LogFileTest, MissingFolderCreatesNothing) {
  ScopedCurrentDirectory cwd(dir_.Path());
  LogWrite(kLogError, L"1219 5");
  EXPECT_TRUE(fs::is_empty(dir_.Path()));
}

TEST_F(LogFileTest, CreatesTheFileWithoutByteOrderMarkAndAppends) {
  fs::create_directories(dir_ / "Kestran/Vexel");
  ScopedCurrentDirectory cwd(dir_.Path());
  LogWrite(kLogError, L"1219 5");
  LogWrite(kLogInformation, L"1608");
  const std::string bytes = ReadFileBytes(dir_ / "Kestran/Vexel/VexelInstall.log");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_NE(bytes.substr(0, 2), std::string("\xff\xfe"));
  const std::wstring text = DecodeUtf16LE(bytes);
  const std::size_t first = text.find(L"[error] 1219 5\r\n");
  const std::size_t second = text.find(L"[info] 1608\r\n");
  ASSERT_NE(first, std::wstring::npos);
  ASSERT_NE(second, std::wstring::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
}

TEST_F(LogFileTest, ConcurrentAppendsLeaveOnlyWholeLines) {
  fs::create_directories(dir_ / "Kestran/Vexel");
  ScopedCurrentDirectory cwd(dir_.Path());
  constexpr int kLinesPerThread = 500;
  // Long messages make a torn write visible if one ever happens.
  const std::wstring a(300, L'a'), b(300, L'b');
  std::thread t1([&] { for (int i = 0; i < kLinesPerThread; ++i) LogWrite(kLogError, a); });
  std::thread t2([&] { for (int i = 0; i < kLinesPerThread; ++i) LogWrite(kLogError, b); });
  t1.join();
  t2.join();
  const std::wstring text = DecodeUtf16LE(ReadFileBytes(dir_ / "Kestran/Vexel/VexelInstall.log"));
  int as = 0, bs = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(L"\r\n", pos);
    ASSERT_NE(end, std::wstring::npos) << "torn last line";
    const std::wstring line = text.substr(pos, end - pos);
    const std::wstring message = line.substr(line.find(L"] ") + 2);
    if (message == a) ++as;
    else if (message == b) ++bs;
    else ADD_FAILURE() << "interleaved line";
    pos = end + 2;
  }
  EXPECT_EQ(as, kLinesPerThread);
  EXPECT_EQ(bs, kLinesPerThread);
}

}  // namespace
