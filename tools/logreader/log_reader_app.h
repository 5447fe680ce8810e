// vexel-log: the command line of the activity log reader, portable. The
// entry points (main_posix.cpp, main_win32.cpp) hand it the arguments as
// UTF-8 and a ReaderSystem for the file and the console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/log_level.h"

namespace logreader {

inline constexpr int kExitShown = 0;        // the log was read and shown
inline constexpr int kExitNoCycle = 1;      // --last-cycle: the log holds no update cycle
inline constexpr int kExitUsage = 2;        // the command line is wrong
inline constexpr int kExitCannotRead = 3;   // the log cannot be opened or read
inline constexpr int kExitFailure = 4;      // anything else went wrong (out of memory)

// What the reader needs of the platform.
class ReaderSystem {
 public:
  virtual ~ReaderSystem() = default;
  // The log read when the command line names none (the service's log in the
  // system folder), or empty where there is no such place.
  virtual std::string DefaultLogPath() = 0;
  // Opens the file at `path` (UTF-8) with sharing that never hinders the
  // program's appends, appends to `out` its bytes from `offset` up to its
  // current end (at most `maxBytes`), sets `fileSize` to its current size and
  // closes it. False with `error` in words when it cannot be opened or read;
  // nothing is appended then.
  virtual bool Read(const std::string& path, std::uint64_t offset, std::size_t maxBytes, std::string& out,
                    std::uint64_t& fileSize, std::string& error) = 0;
  // Standard output and standard error, UTF-8 text.
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
  // Hands what Out buffered to the console or pipe.
  virtual void Flush() = 0;
  // --follow: waits a moment before the next look at the file; false ends
  // following (the reader then reports a last incomplete line and returns).
  virtual bool WaitForMore() = 0;
};

struct ReaderOptions {
  bool help = false;
  std::string path;                   // empty: the default log
  LogLevel minimumLevel = kLogInformation;
  std::optional<std::int64_t> since;  // milliseconds since 1970 UTC, inclusive
  std::optional<std::int64_t> until;  // exclusive
  bool lastCycle = false;
  bool follow = false;
};

// Parses the arguments after the program name. False with a message for
// the user when they are wrong.
bool ParseOptions(const std::vector<std::string>& args, ReaderOptions& options, std::string& error);

// Parses a UTC date-time as --since and --until take it:
// YYYY-MM-DD[(T| )HH[:MM[:SS[.m[m[m]]]]]][Z]. Sets [start, end) to the period
// it names: a day, an hour, a minute, a second or a fraction of one.
bool ParseUtcTime(const std::string& text, std::int64_t& start, std::int64_t& end, std::string& error);

// The whole program: returns its exit code. Never throws.
int RunLogReader(const std::vector<std::string>& args, ReaderSystem& system);

// The text of --help.
const char* HelpText();

}  // namespace logreader
