#include "support/activity_log.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "support/log_messages.h"
#include "support/utf16.h"
#include "tests/fakes/log_capture.h"

namespace {

TEST(FormatNumber, PlainDecimalOfSignedValue) {
  struct Case {
    std::int64_t value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {7, L"7"},
      {-1, L"-1"},
      {1617, L"1617"},
      {2147483647, L"2147483647"},
      {-2147483647 - 1, L"-2147483648"},
      // An unsigned Windows error passed through unchanged wraps.
      {static_cast<std::int32_t>(4294967295u), L"-1"},
      {static_cast<std::int32_t>(2147483648u), L"-2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatNumber(static_cast<std::int32_t>(c.value)), c.text) << c.value;
  }
}

TEST(LogLine, FieldsHaveNoLeadingZeros) {
  EXPECT_EQ(FormatLogLine({2010, 11, 3, 9, 5, 42, 7}, kLogInformation, L"1608"),
            L"2010-11-3+9-5-42.7 [info] 1608\r\n");
  EXPECT_EQ(FormatLogLine({2010, 11, 3, 9, 5, 42, 96}, kLogError, L"1219 5"),
            L"2010-11-3+9-5-42.96 [error] 1219 5\r\n");
  EXPECT_EQ(FormatLogLine({2026, 1, 1, 0, 0, 0, 0}, kLogWarning, L"1409"),
            L"2026-1-1+0-0-0.0 [warning] 1409\r\n");
  EXPECT_EQ(FormatLogLine({2026, 12, 31, 23, 59, 59, 999}, kLogError, L""),
            L"2026-12-31+23-59-59.999 [error] \r\n");
}

TEST(LogWrite, VerboseSwitchDecidesInformationAndWarningLines) {
  struct Case {
    bool verbose;
    LogLevel level;
    bool written;
  } cases[] = {
      {false, kLogInformation, false}, {false, kLogWarning, false}, {false, kLogError, true},
      {true, kLogInformation, true},   {true, kLogWarning, true},   {true, kLogError, true},
  };
  for (const Case& c : cases) {
    LogCapture log(c.verbose);
    LogWrite(c.level, L"1608");
    EXPECT_EQ(log.Lines().size(), c.written ? 1u : 0u) << "verbose " << c.verbose << " level " << c.level;
  }
}

TEST(LogWrite, WritesUtf16LittleEndianWithoutByteOrderMark) {
  LogCapture log(true);
  log.clock.utc = {2010, 11, 3, 9, 5, 42, 7};
  LogWrite(kLogInformation, L"1608");
  auto records = log.file.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].path, LogFilePath);
  // Each ASCII character becomes its byte followed by a zero byte.
  std::string expected;
  for (char c : std::string("2010-11-3+9-5-42.7 [info] 1608\r\n")) {
    expected.push_back(c);
    expected.push_back('\0');
  }
  EXPECT_EQ(records[0].bytes, expected);
}

TEST(LogWrite, NonAsciiTextIsWrittenAsItsUtf16CodeUnits) {
  LogCapture log(true);
  LogWrite(kLogInformation, L"C:\\Programme\\Vexel \u00e4\u4e2d");
  auto records = log.file.Records();
  ASSERT_EQ(records.size(), 1u);
  const std::string& b = records[0].bytes;
  const std::string umlaut("\xe4\x00", 2), han("\x2d\x4e", 2);
  EXPECT_NE(b.find(umlaut + std::string(" \0", 0) + han), std::string::npos);
  EXPECT_EQ(log.Messages().front(), L"C:\\Programme\\Vexel \u00e4\u4e2d");
}

TEST(LogWrite, KeepsTheThreadsLastError) {
  LogCapture log(true);
  log.file.failWith = 32;
  platform::SetLastError(1234);
  LogWrite(kLogError, L"x");
  EXPECT_EQ(platform::LastError(), 1234u);
}

TEST(LogMessages, CodesCarryTheirCatalogueLevelAndArgument) {
  LogCapture log(true);
  platform::SetLastError(5);
  LogCodeWithLastError(MessageCode::CreateOpenManagerFailed);
  LogCode(MessageCode::CycleStarted);
  LogCodeWithNumber(MessageCode::ControlReceived, 4);
  LogCodeWithText(MessageCode::ManifestHostConfigured, L"updates.example");
  platform::SetLastError(4294967295u);
  LogCodeWithLastError(MessageCode::ManifestSessionFailed);
  const std::vector<std::wstring> lines = log.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[0].find(L"[error] 1219 5\r\n"), std::wstring::npos);
  EXPECT_NE(lines[1].find(L"[info] 1608\r\n"), std::wstring::npos);
  EXPECT_NE(lines[2].find(L"[info] 1622 4\r\n"), std::wstring::npos);
  EXPECT_NE(lines[3].find(L"[info] 1629 updates.example\r\n"), std::wstring::npos);
  EXPECT_NE(lines[4].find(L"[warning] 1400 -1\r\n"), std::wstring::npos);
}

}  // namespace
