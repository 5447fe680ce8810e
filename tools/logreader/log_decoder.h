// Reading the activity log back: cutting its bytes into lines and taking each
// line apart. Portable: no platform calls.
//
// The log is a run of UTF-16LE lines, each ending in CR LF (bytes 0D 00 0A
// 00), without a byte-order mark:
//   year-month-day+hour-minute-second.milliseconds [level] message
// with every number in plain decimal and the time in UTC. The message is a
// code alone ("1608"), a code, a blank and a number ("1219 5"), a code, a
// blank and a text ("1628 host"), or a plain text (the start lines).
//
// The log takes no lock and other programs may append to it, so the reader
// expects damage: a last line still being written, foreign bytes of any
// length, bytes that are no UTF-16. Line ends are looked for at every byte
// position, not only at even ones, so that foreign bytes of odd length do not
// hide the lines that follow them; what does not have the layout becomes an
// Unparsed entry and reading goes on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/log_level.h"

namespace logreader {

struct Timestamp {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Milliseconds since 1970-01-01T00:00:00Z of a valid time (negative before).
std::int64_t ToUnixMilliseconds(const Timestamp& time);
// True for a day that exists in the proleptic Gregorian calendar.
bool IsValidDate(int year, int month, int day);
// "2010-11-03T09:05:42.007Z"
std::string FormatIsoUtc(const Timestamp& time);

// What a line's message holds.
enum class MessageShape {
  Text,              // no code: a start line (the executable's path, the first argument) or foreign text
  Code,              // "1608"
  CodeAndArgument,   // "1219 5", "1628 update.example.org"
};

struct Message {
  MessageShape shape = MessageShape::Text;
  std::int32_t code = 0;       // Code and CodeAndArgument
  std::string text;            // Text: the whole message; CodeAndArgument: what follows the blank (UTF-8)
  bool argumentIsNumber = false;
  std::int32_t number = 0;     // when argumentIsNumber: the argument's value
};

// Takes a message (UTF-8) apart. A code is a decimal number without leading
// zeros that fits 32 signed bits; a number argument is written the same way,
// with an optional "-".
Message ParseMessage(const std::string& message);

enum class EntryKind {
  Line,        // a line of the log's layout
  Unparsed,    // bytes ended by a line end, but not a line of the layout
  Incomplete,  // the bytes after the last line end: a line still being written, or cut off
};

enum class UnparsedReason {
  None,
  OddByteCount,  // an odd number of bytes: no UTF-16 text
  InvalidUtf16,  // a surrogate without its partner
  NotInLayout,   // UTF-16 text, but not time, level and message
  CutOff,        // the start of a line whose line end never came: the next line follows directly
  TooLong,       // no line end within the reader's limit; cut there
};

struct LogEntry {
  EntryKind kind = EntryKind::Line;
  UnparsedReason reason = UnparsedReason::None;  // Unparsed only
  std::uint64_t offset = 0;                      // of the entry's first byte in the file
  std::string bytes;                             // as found in the file, the line end excluded

  // Line only.
  Timestamp time;
  LogLevel level = kLogInformation;
  std::string messageText;  // the message, UTF-8
  Message message;
};

// The entries of one run of bytes that ended in a line end (the line end
// itself excluded) found at `offset` in the file. Usually one entry; two when
// foreign or cut-off bytes precede a good line: an Unparsed entry for them
// and the Line.
std::vector<LogEntry> ParseRecord(const std::string& bytes, std::uint64_t offset);

// Decodes UTF-16LE bytes (an odd last byte is ignored) into UTF-8; a lone
// surrogate becomes U+FFFD. Returns false when there was one.
bool DecodeUtf16LE(const char* bytes, std::size_t size, std::string& utf8);

// Cuts a byte stream into entries as it arrives: bytes are fed as they are
// read, possibly ending in the middle of a line or of a code unit.
class LogSplitter {
 public:
  // A run of bytes without a line end is cut at this length.
  static constexpr std::size_t kMaxRecordBytes = 1 << 20;

  // Takes the next bytes of the file and appends the entries they complete.
  void Feed(const char* bytes, std::size_t size, std::vector<LogEntry>& out);
  void Feed(const std::string& bytes, std::vector<LogEntry>& out) { Feed(bytes.data(), bytes.size(), out); }

  // True when bytes after the last line end are waiting.
  bool HasTail() const { return !pending_.empty(); }
  // Those bytes as an Incomplete entry (decoded as far as they go).
  LogEntry Tail() const;

  // The number of bytes fed so far.
  std::uint64_t BytesFed() const { return pendingOffset_ + pending_.size(); }

  // Forgets everything: the file starts again at offset 0.
  void Reset();

 private:
  std::string pending_;
  std::uint64_t pendingOffset_ = 0;
  std::size_t scanned_ = 0;  // pending_ holds no line end that starts before this
};

}  // namespace logreader
