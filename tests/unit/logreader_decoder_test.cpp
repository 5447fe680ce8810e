// Reading activity log bytes back into lines: good lines, torn lines and
// foreign bytes.
#include "tools/logreader/log_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_reader_system.h"

namespace {

using logreader::EntryKind;
using logreader::LogEntry;
using logreader::LogSplitter;
using logreader::MessageShape;
using logreader::UnparsedReason;

std::vector<LogEntry> FeedWhole(const std::string& bytes, bool withTail = true) {
  LogSplitter splitter;
  std::vector<LogEntry> entries;
  splitter.Feed(bytes, entries);
  if (withTail && splitter.HasTail()) entries.push_back(splitter.Tail());
  return entries;
}

const LogTime kTime{2010, 11, 3, 9, 5, 42, 7};

TEST(LogDecoder, TakesApartWhatTheLogWrites) {
  struct Case {
    LogTime time;
    LogLevel level;
    std::wstring message;
    MessageShape shape;
    std::int32_t code;
    std::string text;  // the argument, or the whole text
    bool isNumber;
    std::int32_t number;
  } cases[] = {
      {{2010, 11, 3, 9, 5, 42, 7}, kLogInformation, L"1608", MessageShape::Code, 1608, "", false, 0},
      {{2010, 11, 3, 9, 5, 42, 96}, kLogError, L"1219 5", MessageShape::CodeAndArgument, 1219, "5", true, 5},
      {{2026, 1, 1, 0, 0, 0, 0}, kLogWarning, L"1409", MessageShape::Code, 1409, "", false, 0},
      {{2026, 12, 31, 23, 59, 59, 999}, kLogError, L"1217 -1", MessageShape::CodeAndArgument, 1217, "-1", true, -1},
      {{2024, 2, 29, 12, 0, 0, 5}, kLogError, L"1292 -2147483648", MessageShape::CodeAndArgument, 1292,
       "-2147483648", true, -2147483647 - 1},
      {{2024, 2, 29, 12, 0, 0, 5}, kLogError, L"1219 0", MessageShape::CodeAndArgument, 1219, "0", true, 0},
      {{1601, 1, 1, 0, 0, 0, 0}, kLogInformation, L"1622 4", MessageShape::CodeAndArgument, 1622, "4", true, 4},
      {{30827, 12, 31, 23, 59, 59, 999}, kLogInformation, L"1629 updates.example.org",
       MessageShape::CodeAndArgument, 1629, "updates.example.org", false, 0},
      {kTime, kLogInformation, L"1628 b\u00fccher.\u4e2d\u6587.example", MessageShape::CodeAndArgument, 1628,
       "b\xc3\xbc" "cher.\xe4\xb8\xad\xe6\x96\x87.example", false, 0},
      // A host name of digits is still an argument; what it means is the
      // catalogue's business.
      {kTime, kLogInformation, L"1628 12345", MessageShape::CodeAndArgument, 1628, "12345", true, 12345},
      {kTime, kLogInformation, L"C:\\Program Files\\Orrin\\Vexel Player\\VexelPlayerUpdateService.exe",
       MessageShape::Text, 0, "C:\\Program Files\\Orrin\\Vexel Player\\VexelPlayerUpdateService.exe", false, 0},
      {kTime, kLogInformation, L"-install", MessageShape::Text, 0, "-install", false, 0},
      {kTime, kLogInformation, L"\U0001F600 emoji", MessageShape::Text, 0, "\xf0\x9f\x98\x80 emoji", false, 0},
      {kTime, kLogError, L"", MessageShape::Text, 0, "", false, 0},
      {kTime, kLogError, L"1234abc", MessageShape::Text, 0, "1234abc", false, 0},
      {kTime, kLogError, L"01219 5", MessageShape::Text, 0, "01219 5", false, 0},
      {kTime, kLogError, L"99999999999 5", MessageShape::Text, 0, "99999999999 5", false, 0},
      // Numbers the log never writes stay text after the code.
      {kTime, kLogError, L"1219 05", MessageShape::CodeAndArgument, 1219, "05", false, 0},
      {kTime, kLogError, L"1219 -0", MessageShape::CodeAndArgument, 1219, "-0", false, 0},
      {kTime, kLogError, L"1219 4294967295", MessageShape::CodeAndArgument, 1219, "4294967295", false, 0},
      {kTime, kLogError, L"1219 ", MessageShape::CodeAndArgument, 1219, "", false, 0},
      {kTime, kLogError, L"1219 5 6", MessageShape::CodeAndArgument, 1219, "5 6", false, 0},
      {kTime, kLogError, L"1999", MessageShape::Code, 1999, "", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.message));
    const std::string bytes = LogLineBytes(c.time, c.level, c.message);
    std::vector<LogEntry> entries = FeedWhole(bytes);
    ASSERT_EQ(entries.size(), 1u);
    const LogEntry& e = entries[0];
    ASSERT_EQ(e.kind, EntryKind::Line);
    EXPECT_EQ(e.offset, 0u);
    EXPECT_EQ(e.bytes, bytes.substr(0, bytes.size() - 4));
    EXPECT_EQ(e.time.year, c.time.year);
    EXPECT_EQ(e.time.month, c.time.month);
    EXPECT_EQ(e.time.day, c.time.day);
    EXPECT_EQ(e.time.hour, c.time.hour);
    EXPECT_EQ(e.time.minute, c.time.minute);
    EXPECT_EQ(e.time.second, c.time.second);
    EXPECT_EQ(e.time.millisecond, c.time.milliseconds);
    EXPECT_EQ(e.level, c.level);
    EXPECT_EQ(e.messageText, WideToUtf8(c.message));
    EXPECT_EQ(e.message.shape, c.shape);
    EXPECT_EQ(e.message.code, c.code);
    EXPECT_EQ(e.message.text, c.text);
    EXPECT_EQ(e.message.argumentIsNumber, c.isNumber);
    if (c.isNumber) {
      EXPECT_EQ(e.message.number, c.number);
    }
  }
}

TEST(LogDecoder, IsoTimeAndOrderOfTimes) {
  EXPECT_EQ(logreader::FormatIsoUtc({2010, 11, 3, 9, 5, 42, 7}), "2010-11-03T09:05:42.007Z");
  EXPECT_EQ(logreader::ToUnixMilliseconds({1970, 1, 1, 0, 0, 0, 0}), 0);
  EXPECT_EQ(logreader::ToUnixMilliseconds({1970, 1, 2, 0, 0, 0, 1}), 86400001);
  EXPECT_EQ(logreader::ToUnixMilliseconds({2000, 3, 1, 0, 0, 0, 0}), 951868800000);
  EXPECT_EQ(logreader::ToUnixMilliseconds({1601, 1, 1, 0, 0, 0, 0}), -11644473600000);
  // Each step of a field is later than the one before, across month and year ends.
  const logreader::Timestamp ordered[] = {
      {2023, 12, 31, 23, 59, 59, 999}, {2024, 1, 1, 0, 0, 0, 0},  {2024, 1, 31, 0, 0, 0, 0},
      {2024, 2, 1, 0, 0, 0, 0},        {2024, 2, 29, 0, 0, 0, 0}, {2024, 3, 1, 0, 0, 0, 0},
  };
  for (std::size_t i = 1; i < sizeof(ordered) / sizeof(ordered[0]); ++i) {
    EXPECT_LT(logreader::ToUnixMilliseconds(ordered[i - 1]), logreader::ToUnixMilliseconds(ordered[i])) << i;
  }
}

TEST(LogDecoder, LinesOutsideTheLayoutAreUnparsed) {
  const std::wstring cases[] = {
      L"2010-011-3+9-5-42.7 [info] 1608",     // leading zero
      L"2010-11-03+9-5-42.7 [info] 1608",
      L"2010-11-3+09-5-42.7 [info] 1608",
      L"2010-11-3+9-5-42.007 [info] 1608",
      L"2010-13-3+9-5-42.7 [info] 1608",      // no month 13
      L"2010-2-29+9-5-42.7 [info] 1608",      // not a leap year
      L"2010-11-3+24-5-42.7 [info] 1608",
      L"2010-11-3+9-60-42.7 [info] 1608",
      L"2010-11-3+9-5-60.7 [info] 1608",
      L"2010-11-3+9-5-42.1000 [info] 1608",
      L"1600-11-3+9-5-42.7 [info] 1608",      // before any Windows time
      L"2010-11-3+9-5-42.7 [debug] 1608",
      L"2010-11-3+9-5-42.7 [Info] 1608",
      L"2010-11-3+9-5-42.7 [info]1608",
      L"2010-11-3+9-5-42.7 info 1608",
      L"2010-11-3 9:5:42.7 [info] 1608",
      L"2010-11-3+9-5-42.7 [info",
      L"2010-11-3+9-5-42",
      L"hello, world",
      L"",
  };
  for (const std::wstring& line : cases) {
    SCOPED_TRACE(WideToUtf8(line));
    std::vector<LogEntry> entries = FeedWhole(Utf16Bytes(line + L"\r\n"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, EntryKind::Unparsed);
    EXPECT_EQ(entries[0].reason, UnparsedReason::NotInLayout);
    EXPECT_EQ(entries[0].bytes, Utf16Bytes(line));
  }
}

// A log of a few good lines.
std::string GoodLog() {
  return LogLineBytes({2010, 11, 3, 9, 5, 42, 7}, kLogInformation, L"1608") +
         LogLineBytes({2010, 11, 3, 9, 5, 42, 96}, kLogError, L"1219 5") +
         LogLineBytes({2010, 11, 3, 9, 5, 43, 0}, kLogInformation, L"1628 h\u00f6st.example") +
         LogLineBytes({2010, 11, 3, 9, 5, 44, 0}, kLogInformation, L"1612");
}

std::vector<std::string> Messages(const std::vector<LogEntry>& entries) {
  std::vector<std::string> out;
  for (const LogEntry& e : entries) {
    out.push_back(e.kind == EntryKind::Line ? e.messageText : e.kind == EntryKind::Unparsed ? "<unparsed>" : "<incomplete>");
  }
  return out;
}

TEST(LogSplitter, BytesArrivingInAnyPiecesGiveTheSameLines) {
  const std::string log = GoodLog();
  const std::vector<LogEntry> whole = FeedWhole(log);
  ASSERT_EQ(Messages(whole), (std::vector<std::string>{"1608", "1219 5", "1628 h\xc3\xb6st.example", "1612"}));
  // Every cut into two pieces, and one byte at a time.
  for (std::size_t cut = 0; cut <= log.size(); ++cut) {
    LogSplitter splitter;
    std::vector<LogEntry> entries;
    splitter.Feed(log.substr(0, cut), entries);
    splitter.Feed(log.substr(cut), entries);
    EXPECT_FALSE(splitter.HasTail()) << cut;
    ASSERT_EQ(Messages(entries), Messages(whole)) << cut;
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].offset, whole[i].offset) << cut;
  }
  LogSplitter splitter;
  std::vector<LogEntry> entries;
  for (char c : log) splitter.Feed(&c, 1, entries);
  EXPECT_EQ(Messages(entries), Messages(whole));
  EXPECT_EQ(splitter.BytesFed(), log.size());
}

TEST(LogSplitter, TornLastLineIsIncompleteAndCompletesLater) {
  const std::string log = GoodLog();
  const std::string last = LogLineBytes({2010, 11, 3, 9, 6, 0, 0}, kLogError, L"1217 -2146885628");
  // Cut the last line anywhere before its line end, odd byte counts included.
  for (std::size_t keep = 1; keep < last.size(); ++keep) {
    SCOPED_TRACE(keep);
    LogSplitter splitter;
    std::vector<LogEntry> entries;
    splitter.Feed(log + last.substr(0, keep), entries);
    EXPECT_EQ(entries.size(), 4u);
    ASSERT_TRUE(splitter.HasTail());
    const LogEntry tail = splitter.Tail();
    EXPECT_EQ(tail.kind, EntryKind::Incomplete);
    EXPECT_EQ(tail.offset, log.size());
    EXPECT_EQ(tail.bytes, last.substr(0, keep));
    // The writer finishes the line: it is read whole, once.
    entries.clear();
    splitter.Feed(last.substr(keep), entries);
    EXPECT_FALSE(splitter.HasTail());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, EntryKind::Line);
    EXPECT_EQ(entries[0].messageText, "1217 -2146885628");
  }
}

TEST(LogSplitter, ForeignBytesAreMarkedAndTheLinesAroundThemRead) {
  const std::string before = LogLineBytes(kTime, kLogError, L"1219 5");
  const std::string after = LogLineBytes(kTime, kLogError, L"1220 87");
  const std::string cutLine = LogLineBytes(kTime, kLogInformation, L"1629 example.org");
  const std::string lineEnd("\r\0\n\0", 4);
  struct Case {
    const char* name;
    std::string foreign;
    std::vector<UnparsedReason> reasons;  // the Unparsed entries between the two lines
    std::vector<std::string> extraLines;  // good lines found among the foreign bytes
  } cases[] = {
      {"8-bit text of odd length, then a line", "hello", {UnparsedReason::OddByteCount}, {}},
      {"8-bit lines", "first line\nsecond\n", {UnparsedReason::NotInLayout}, {}},
      {"8-bit line of odd length ended like a log line", std::string("abc") + lineEnd, {UnparsedReason::OddByteCount}, {}},
      {"a byte-order mark", "\xff\xfe", {UnparsedReason::NotInLayout}, {}},
      {"a single zero byte", std::string(1, '\0'), {UnparsedReason::OddByteCount}, {}},
      {"a lone high surrogate, ended", Utf16Bytes(L"x") + std::string("\x00\xd8", 2) + lineEnd,
       {UnparsedReason::InvalidUtf16}, {}},
      {"a line cut off, the next written straight after it",
       cutLine.substr(0, cutLine.size() - 10) + LogLineBytes(kTime, kLogInformation, L"1612"),
       {UnparsedReason::CutOff}, {"1612"}},
      {"a line cut off at an odd byte", cutLine.substr(0, 61) + LogLineBytes(kTime, kLogInformation, L"1612"),
       {UnparsedReason::CutOff}, {"1612"}},
      {"odd foreign bytes before a line of the log", "xyz" + LogLineBytes(kTime, kLogWarning, L"1409"),
       {UnparsedReason::OddByteCount}, {"1409"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string log = before + c.foreign + after;
    std::vector<LogEntry> entries = FeedWhole(log);
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries.front().messageText, "1219 5");
    EXPECT_EQ(entries.back().kind, EntryKind::Line);
    EXPECT_EQ(entries.back().messageText, "1220 87");
    std::vector<UnparsedReason> reasons;
    std::vector<std::string> lines;
    std::size_t bytesAccounted = before.size() + after.size();
    for (std::size_t i = 1; i + 1 < entries.size(); ++i) {
      if (entries[i].kind == EntryKind::Unparsed) reasons.push_back(entries[i].reason);
      if (entries[i].kind == EntryKind::Line) lines.push_back(entries[i].messageText);
      EXPECT_EQ(log.substr(static_cast<std::size_t>(entries[i].offset), entries[i].bytes.size()), entries[i].bytes);
      bytesAccounted += entries[i].bytes.size();
    }
    EXPECT_EQ(reasons, c.reasons);
    EXPECT_EQ(lines, c.extraLines);
    // Nothing of the file is lost but line ends.
    EXPECT_EQ((log.size() - bytesAccounted) % 4, 0u);
    EXPECT_LE(log.size() - bytesAccounted, 4 * entries.size());
  }
}

TEST(LogSplitter, InvalidUtf16InAMessageMakesTheLineUnparsed) {
  const std::string header = Utf16Bytes(L"2010-11-3+9-5-42.7 [info] 1628 ");
  const std::string lineEnd("\r\0\n\0", 4);
  for (const std::string& bad : {std::string("\x00\xd8", 2), std::string("\x00\xdc", 2),
                                 std::string("\x00\xdc\x00\xd8", 4)}) {
    std::vector<LogEntry> entries = FeedWhole(header + bad + Utf16Bytes(L"host") + lineEnd);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, EntryKind::Unparsed);
    EXPECT_EQ(entries[0].reason, UnparsedReason::InvalidUtf16);
  }
  // A surrogate pair is a character, not damage.
  std::vector<LogEntry> entries = FeedWhole(header + std::string("\x3d\xd8\x00\xde", 4) + lineEnd);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].kind, EntryKind::Line);
  EXPECT_EQ(entries[0].message.text, "\xf0\x9f\x98\x80");
}

TEST(LogSplitter, BytesWithoutALineEndAreCutAndReadingGoesOn) {
  const std::string junk(LogSplitter::kMaxRecordBytes + 300000, 'j');
  LogSplitter splitter;
  std::vector<LogEntry> entries;
  for (std::size_t i = 0; i < junk.size(); i += 65536) splitter.Feed(junk.substr(i, 65536), entries);
  ASSERT_FALSE(entries.empty());
  for (const LogEntry& e : entries) {
    EXPECT_EQ(e.kind, EntryKind::Unparsed);
    EXPECT_EQ(e.reason, UnparsedReason::TooLong);
    EXPECT_LE(e.bytes.size(), LogSplitter::kMaxRecordBytes);
  }
  entries.clear();
  splitter.Feed("jj" + LogLineBytes(kTime, kLogError, L"1219 5") + LogLineBytes(kTime, kLogError, L"1220 5"), entries);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].kind, EntryKind::Unparsed);
  EXPECT_EQ(entries[1].messageText, "1219 5");
  EXPECT_EQ(entries[2].messageText, "1220 5");
  EXPECT_FALSE(splitter.HasTail());
}

}  // namespace
