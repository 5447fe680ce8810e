#include "tools/logreader/log_decoder.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

#include "support/utf16.h"

namespace logreader {
namespace {

constexpr char kLineEnd[] = {'\r', '\0', '\n', '\0'};
constexpr std::string_view kLineEndView(kLineEnd, sizeof(kLineEnd));

// What is kept of a run without a line end when it is cut: more than the
// longest line the program writes (a path of 32767 UTF-16 units and a header).
constexpr std::size_t kKeptWhenCut = 128 * 1024;

// The earliest and latest years a Windows system time holds.
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;

std::uint16_t UnitAt(const char* p, std::size_t index) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(p[2 * index]) |
                                    (static_cast<std::uint16_t>(static_cast<std::uint8_t>(p[2 * index + 1])) << 8));
}

// Walks the UTF-16 code units of a line's time and level.
class HeaderCursor {
 public:
  HeaderCursor(const char* p, std::size_t units) : p_(p), units_(units) {}

  bool Expect(char c) {
    if (index_ >= units_ || UnitAt(p_, index_) != static_cast<std::uint16_t>(static_cast<unsigned char>(c))) {
      return false;
    }
    ++index_;
    return true;
  }

  bool ExpectWord(std::string_view word) {
    for (char c : word) {
      if (!Expect(c)) return false;
    }
    return true;
  }

  bool Peek(char c) const {
    return index_ < units_ && UnitAt(p_, index_) == static_cast<std::uint16_t>(static_cast<unsigned char>(c));
  }

  // A plain decimal number of at most `maxDigits` digits, without leading
  // zeros (zero itself is "0"), within [low, high].
  bool Number(int maxDigits, int low, int high, int& value) {
    int digits = 0;
    int v = 0;
    const std::size_t first = index_;
    while (index_ < units_) {
      const std::uint16_t u = UnitAt(p_, index_);
      if (u < '0' || u > '9') break;
      if (digits == maxDigits) return false;
      if (digits == 1 && UnitAt(p_, first) == '0') return false;
      v = v * 10 + (u - '0');
      ++digits;
      ++index_;
    }
    if (digits == 0 || v < low || v > high) return false;
    value = v;
    return true;
  }

  std::size_t Index() const { return index_; }

 private:
  const char* p_;
  std::size_t units_;
  std::size_t index_ = 0;
};

// The time and level at the start of `units` code units; `messageStart` is
// the unit where the message begins.
bool ParseHeader(const char* p, std::size_t units, Timestamp& t, LogLevel& level, std::size_t& messageStart) {
  HeaderCursor c(p, units);
  if (!c.Number(5, kFirstYear, kLastYear, t.year) || !c.Expect('-')) return false;
  if (!c.Number(2, 1, 12, t.month) || !c.Expect('-')) return false;
  if (!c.Number(2, 1, 31, t.day) || !IsValidDate(t.year, t.month, t.day) || !c.Expect('+')) return false;
  if (!c.Number(2, 0, 23, t.hour) || !c.Expect('-')) return false;
  if (!c.Number(2, 0, 59, t.minute) || !c.Expect('-')) return false;
  if (!c.Number(2, 0, 59, t.second) || !c.Expect('.')) return false;
  if (!c.Number(3, 0, 999, t.millisecond) || !c.Expect(' ') || !c.Expect('[')) return false;
  if (c.Peek('i')) {
    if (!c.ExpectWord("info")) return false;
    level = kLogInformation;
  } else if (c.Peek('w')) {
    if (!c.ExpectWord("warning")) return false;
    level = kLogWarning;
  } else {
    if (!c.ExpectWord("error")) return false;
    level = kLogError;
  }
  if (!c.Expect(']') || !c.Expect(' ')) return false;
  messageStart = c.Index();
  return true;
}

// True when the bytes from `start` to the end could hold a line: an even
// count beginning with a non-zero ASCII digit.
bool CouldStartLine(const std::string& bytes, std::size_t start) {
  const std::size_t n = bytes.size();
  if (start + 1 >= n || (n - start) % 2 != 0) return false;
  return bytes[start] >= '1' && bytes[start] <= '9' && bytes[start + 1] == '\0';
}

bool HeaderAt(const std::string& bytes, std::size_t start, Timestamp& t, LogLevel& level, std::size_t& messageStart) {
  return ParseHeader(bytes.data() + start, (bytes.size() - start) / 2, t, level, messageStart);
}

// Why bytes that hold no line are not one.
UnparsedReason ClassifyForeign(const std::string& bytes) {
  if (bytes.size() % 2 != 0) return UnparsedReason::OddByteCount;
  std::string ignored;
  if (!DecodeUtf16LE(bytes.data(), bytes.size(), ignored)) return UnparsedReason::InvalidUtf16;
  return UnparsedReason::NotInLayout;
}

LogEntry Unparsed(std::string bytes, std::uint64_t offset, UnparsedReason reason) {
  LogEntry e;
  e.kind = EntryKind::Unparsed;
  e.reason = reason;
  e.offset = offset;
  e.bytes = std::move(bytes);
  return e;
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// A number as the log writes it: an optional "-", then "0" or digits
// without a leading zero; within 32 signed bits.
bool ParseFormattedNumber(const std::string& s, std::int32_t& value) {
  std::size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) i = 1;
  if (i >= s.size()) return false;
  if (s[i] == '0') {
    if (negative || i + 1 != s.size()) return false;
    value = 0;
    return true;
  }
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (!IsDecimalDigit(s[i]) || v > 999999999) return false;
    v = v * 10 + (s[i] - '0');
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = (month == 2 && leap) ? 29 : kDays[month - 1];
  return day <= last;
}

std::int64_t ToUnixMilliseconds(const Timestamp& t) {
  // Days from the civil date (proleptic Gregorian), counted in eras of 400
  // years starting on 1 March.
  const std::int64_t y = static_cast<std::int64_t>(t.year) - (t.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t m = t.month;
  const std::int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + t.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + t.second * 1000 + t.millisecond;
}

std::string FormatIsoUtc(const Timestamp& t) {
  char buffer[40];
  std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.millisecond);
  return buffer;
}

bool DecodeUtf16LE(const char* bytes, std::size_t size, std::string& utf8) {
  const std::size_t units = size / 2;
  bool valid = true;
  utf8.reserve(utf8.size() + units);
  for (std::size_t k = 0; k < units; ++k) {
    const std::uint16_t u = UnitAt(bytes, k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      const std::uint16_t low = UnitAt(bytes, k + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00), utf8);
        ++k;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      valid = false;
      AppendUtf8(0xFFFD, utf8);
      continue;
    }
    AppendUtf8(u, utf8);
  }
  return valid;
}

Message ParseMessage(const std::string& s) {
  Message m;
  m.text = s;
  if (s.empty() || s[0] < '1' || s[0] > '9') return m;
  std::size_t i = 0;
  std::int64_t code = 0;
  while (i < s.size() && IsDecimalDigit(s[i])) {
    if (i == 10) return m;
    code = code * 10 + (s[i] - '0');
    ++i;
  }
  if (code > std::numeric_limits<std::int32_t>::max()) return m;
  if (i == s.size()) {
    m.shape = MessageShape::Code;
    m.code = static_cast<std::int32_t>(code);
    m.text.clear();
    return m;
  }
  if (s[i] != ' ') return m;  // "1234abc" is text, not a code
  m.shape = MessageShape::CodeAndArgument;
  m.code = static_cast<std::int32_t>(code);
  m.text = s.substr(i + 1);
  m.argumentIsNumber = ParseFormattedNumber(m.text, m.number);
  return m;
}

std::vector<LogEntry> ParseRecord(const std::string& bytes, std::uint64_t offset) {
  // The line of the layout that runs to the record's end begins at the last
  // position where a time and level can be read. A record usually begins
  // with it; bytes before it are foreign, or a line that lost its line end.
  std::optional<std::size_t> start;
  Timestamp time;
  LogLevel level = kLogInformation;
  std::size_t messageStart = 0;
  for (std::size_t p = 0; p + 1 < bytes.size(); ++p) {
    if (!CouldStartLine(bytes, p)) continue;
    Timestamp t;
    LogLevel l = kLogInformation;
    std::size_t m = 0;
    if (HeaderAt(bytes, p, t, l, m)) {
      start = p;
      time = t;
      level = l;
      messageStart = m;
    }
  }

  std::vector<LogEntry> entries;
  if (!start) {
    entries.push_back(Unparsed(bytes, offset, ClassifyForeign(bytes)));
    return entries;
  }

  if (*start > 0) {
    std::string before = bytes.substr(0, *start);
    Timestamp t;
    LogLevel l = kLogInformation;
    std::size_t m = 0;
    const bool cutOffLine = before.size() >= 2 && before[0] >= '1' && before[0] <= '9' && before[1] == '\0' &&
                            ParseHeader(before.data(), before.size() / 2, t, l, m);
    entries.push_back(Unparsed(std::move(before), offset, cutOffLine ? UnparsedReason::CutOff : ClassifyForeign(before)));
  }

  LogEntry line;
  line.offset = offset + *start;
  line.bytes = bytes.substr(*start);
  const std::size_t messageByte = 2 * messageStart;
  if (!DecodeUtf16LE(line.bytes.data() + messageByte, line.bytes.size() - messageByte, line.messageText)) {
    entries.push_back(Unparsed(std::move(line.bytes), line.offset, UnparsedReason::InvalidUtf16));
    return entries;
  }
  line.kind = EntryKind::Line;
  line.time = time;
  line.level = level;
  line.message = ParseMessage(line.messageText);
  entries.push_back(std::move(line));
  return entries;
}

void LogSplitter::Feed(const char* bytes, std::size_t size, std::vector<LogEntry>& out) {
  pending_.append(bytes, size);
  std::size_t recordStart = 0;
  std::size_t scanFrom = scanned_;
  for (;;) {
    const std::size_t end = pending_.find(kLineEndView, scanFrom);
    if (end == std::string::npos) break;
    for (LogEntry& e : ParseRecord(pending_.substr(recordStart, end - recordStart), pendingOffset_ + recordStart)) {
      out.push_back(std::move(e));
    }
    recordStart = end + kLineEndView.size();
    scanFrom = recordStart;
  }
  while (pending_.size() - recordStart > kMaxRecordBytes) {
    // No line end for a long way: these are not the program's lines. Keep
    // the last part, where the next line may already have begun.
    const std::size_t cut = std::min(kMaxRecordBytes, pending_.size() - recordStart - kKeptWhenCut);
    out.push_back(Unparsed(pending_.substr(recordStart, cut), pendingOffset_ + recordStart, UnparsedReason::TooLong));
    recordStart += cut;
  }
  pending_.erase(0, recordStart);
  pendingOffset_ += recordStart;
  // A line end may straddle the next feed: look again at its first bytes.
  scanned_ = pending_.size() >= kLineEndView.size() - 1 ? pending_.size() - (kLineEndView.size() - 1) : 0;
}

LogEntry LogSplitter::Tail() const {
  LogEntry e;
  e.kind = EntryKind::Incomplete;
  e.offset = pendingOffset_;
  e.bytes = pending_;
  return e;
}

void LogSplitter::Reset() {
  pending_.clear();
  pendingOffset_ = 0;
  scanned_ = 0;
}

}  // namespace logreader
