#include "tools/logreader/log_reader_app.h"

#include <exception>
#include <new>
#include <utility>

#include "support/message_catalogue.h"
#include "tools/logreader/log_decoder.h"
#include "tools/logreader/log_describe.h"

namespace logreader {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
const std::string kProgram = "vexel-log";

const char kHelp[] =
    "Usage: vexel-log [options] [FILE]\n"
    "\n"
    "Prints the activity log of the Orrin Vexel Player Update Service, one line\n"
    "per entry: the time (UTC), the level, the message code and what it means,\n"
    "with the number or host name after the code explained.\n"
    "\n"
    "FILE is the log to read, as the service writes it (UTF-16LE). On Windows it\n"
    "defaults to the service's log, Kestran\\Vexel\\VexelInstall.log in the system\n"
    "folder; elsewhere it must be given.\n"
    "\n"
    "Options:\n"
    "  --level LEVEL   only lines of LEVEL or worse: info (all), warning, error\n"
    "  --since TIME    only lines written at TIME or later\n"
    "  --until TIME    only lines written up to TIME, the whole period it names\n"
    "                  included (--until 2010-11-03 includes that day)\n"
    "  --last-cycle    only the last update cycle: from the last line 1608 to its\n"
    "                  line 1612, or to the end of the log if the cycle has not ended\n"
    "  --follow        after the end, keep showing lines as they are appended\n"
    "                  (stop with Ctrl+C)\n"
    "  --help          show this text\n"
    "\n"
    "TIME is in UTC: YYYY-MM-DD, optionally followed by THH, THH:MM, THH:MM:SS or\n"
    "THH:MM:SS.mmm, and by Z. A blank may stand for the T.\n"
    "\n"
    "Bytes that are no line of the log are shown marked [unparsed], and a last\n"
    "line without its line end marked [incomplete]; reading goes on after them.\n"
    "They have no time or level of their own, so --level, --since and --until\n"
    "keep them.\n"
    "\n"
    "Exit codes: 0 the log was shown; 1 --last-cycle found no update cycle;\n"
    "2 the command line is wrong; 3 the log cannot be read.\n";

bool IsCode(const LogEntry& e, MessageCode code) {
  return e.kind == EntryKind::Line && e.message.shape != MessageShape::Text &&
         e.message.code == static_cast<std::int32_t>(code);
}

std::string CodeAndMeaning(MessageCode code) {
  return std::to_string(static_cast<std::int32_t>(code)) + " (" + MessageFor(code).meaning + ")";
}

// Decides which entries are shown and shows them.
class Printer {
 public:
  Printer(const ReaderOptions& options, ReaderSystem& system) : options_(options), system_(system) {}

  void Take(LogEntry entry) {
    ++entries_;
    if (entry.kind == EntryKind::Line) ++lines_;
    if (!options_.lastCycle) {
      Show(entry);
      return;
    }
    // Only the entries from the last line 1608 on are kept, up to its 1612.
    if (IsCode(entry, MessageCode::CycleStarted)) {
      cycle_.clear();
      cycleFound_ = true;
      cycleOpen_ = true;
      cycle_.push_back(std::move(entry));
    } else if (cycleOpen_) {
      const bool end = IsCode(entry, MessageCode::CycleEnded);
      cycle_.push_back(std::move(entry));
      if (end) cycleOpen_ = false;
    }
  }

  // Shows what was held back and says what the user may miss; returns the
  // exit code.
  int Finish() {
    if (options_.lastCycle) {
      if (!cycleFound_) {
        system_.Flush();
        system_.Err(kProgram + ": the log holds no update cycle: no line " + CodeAndMeaning(MessageCode::CycleStarted) +
                    ". The cycle's lines are information lines, written only while verbose logging is on"
                    " (SilentAutoUpdateVerboseLogging=1 in the configuration file).\n");
        return kExitNoCycle;
      }
      for (const LogEntry& e : cycle_) Show(e);
    }
    system_.Flush();
    if (lines_ == 0 && entries_ == 0) {
      system_.Err(kProgram + ": the log holds no lines\n");
    } else if (lines_ > 0 && shown_ == 0) {
      system_.Err(kProgram + ": no line matches\n");
    }
    if (unparsedShown_ > 0) {
      system_.Err(kProgram + ": " + std::to_string(unparsedShown_) +
                  (unparsedShown_ == 1 ? " stretch of the file is" : " stretches of the file are") +
                  " no log line; shown marked [unparsed]\n");
    }
    if (options_.lastCycle && cycleOpen_) {
      system_.Err(kProgram + ": the last update cycle has no line " + CodeAndMeaning(MessageCode::CycleEnded) +
                  " yet: it is still running, or its run ended before the cycle did\n");
    }
    return kExitShown;
  }

 private:
  bool Passes(const LogEntry& e) const {
    if (e.kind != EntryKind::Line) return true;
    if (e.level < options_.minimumLevel) return false;
    const std::int64_t t = ToUnixMilliseconds(e.time);
    if (options_.since && t < *options_.since) return false;
    if (options_.until && t >= *options_.until) return false;
    return true;
  }

  void Show(const LogEntry& e) {
    if (!Passes(e)) return;
    if (e.kind == EntryKind::Line) ++shown_;
    if (e.kind == EntryKind::Unparsed) ++unparsedShown_;
    system_.Out(DescribeEntry(e) + "\n");
  }

  const ReaderOptions& options_;
  ReaderSystem& system_;
  std::size_t entries_ = 0;
  std::size_t lines_ = 0;
  std::size_t shown_ = 0;
  std::size_t unparsedShown_ = 0;
  bool cycleFound_ = false;
  bool cycleOpen_ = false;
  std::vector<LogEntry> cycle_;
};

enum class ReadResult { Read, Shrunk, Failed };

// Reads the log from where the last read ended to its current end.
class LogFollower {
 public:
  LogFollower(std::string path, ReaderSystem& system, Printer& printer)
      : path_(std::move(path)), system_(system), printer_(printer) {}

  ReadResult ReadAvailable(std::string& error) {
    for (;;) {
      std::string chunk;
      std::uint64_t size = 0;
      if (!system_.Read(path_, offset_, kReadChunk, chunk, size, error)) return ReadResult::Failed;
      if (size < offset_) return ReadResult::Shrunk;
      offset_ += chunk.size();
      std::vector<LogEntry> entries;
      splitter_.Feed(chunk, entries);
      for (LogEntry& e : entries) printer_.Take(std::move(e));
      // A log that grows while it is read is read to the end it had.
      if (chunk.empty() || offset_ >= size) return ReadResult::Read;
    }
  }

  void StartOver() {
    splitter_.Reset();
    offset_ = 0;
  }

  void TakeTail() {
    if (splitter_.HasTail()) printer_.Take(splitter_.Tail());
  }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  ReaderSystem& system_;
  Printer& printer_;
  LogSplitter splitter_;
  std::uint64_t offset_ = 0;
};

int Follow(LogFollower& follower, ReaderSystem& system) {
  bool failing = false;
  std::string error;
  while (system.WaitForMore()) {
    ReadResult result = follower.ReadAvailable(error);
    if (result == ReadResult::Failed) {
      if (!failing) {
        system.Flush();
        system.Err(kProgram + ": cannot read " + follower.Path() + " now: " + error + "; waiting\n");
      }
      failing = true;
      continue;
    }
    if (failing) system.Err(kProgram + ": reading " + follower.Path() + " again\n");
    failing = false;
    if (result == ReadResult::Shrunk) {
      system.Flush();
      system.Err(kProgram + ": the log is shorter than before: it was replaced or emptied; reading it from its start\n");
      follower.StartOver();
      follower.ReadAvailable(error);
    }
    system.Flush();
  }
  follower.TakeTail();
  system.Flush();
  return kExitShown;
}

int Run(const std::vector<std::string>& args, ReaderSystem& system) {
  ReaderOptions options;
  std::string error;
  if (!ParseOptions(args, options, error)) {
    system.Err(kProgram + ": " + error + "\nRun 'vexel-log --help' for the options.\n");
    return kExitUsage;
  }
  if (options.help) {
    system.Out(kHelp);
    system.Flush();
    return kExitShown;
  }
  const std::string path = options.path.empty() ? system.DefaultLogPath() : options.path;
  if (path.empty()) {
    system.Err(kProgram + ": name the log file to read, for example: vexel-log VexelInstall.log\n"
               "Run 'vexel-log --help' for the options.\n");
    return kExitUsage;
  }

  Printer printer(options, system);
  LogFollower follower(path, system, printer);
  if (follower.ReadAvailable(error) == ReadResult::Failed) {
    system.Flush();
    system.Err(kProgram + ": cannot read " + path + ": " + error + "\n");
    return kExitCannotRead;
  }
  if (options.follow) {
    system.Flush();
    return Follow(follower, system);
  }
  follower.TakeTail();
  return printer.Finish();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* HelpText() { return kHelp; }

bool ParseUtcTime(const std::string& s, std::int64_t& start, std::int64_t& end, std::string& error) {
  auto bad = [&](const std::string& why) {
    error = "'" + s + "' is not a UTC date-time: " + why +
            "; write YYYY-MM-DD, optionally followed by THH, THH:MM, THH:MM:SS or THH:MM:SS.mmm, and Z";
    return false;
  };
  std::size_t i = 0;
  auto digits = [&](std::size_t least, std::size_t most, int& value, std::size_t* count = nullptr) {
    std::size_t n = 0;
    int v = 0;
    while (i < s.size() && IsDigit(s[i]) && n < most) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++n;
    }
    if (count != nullptr) *count = n;
    value = v;
    return n >= least && !(i < s.size() && IsDigit(s[i]));
  };
  auto take = [&](char c) {
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  };

  Timestamp t;
  if (!digits(4, 4, t.year)) return bad("the year has four digits");
  if (!take('-') || !digits(1, 2, t.month) || !take('-') || !digits(1, 2, t.day)) {
    return bad("the date is year-month-day");
  }
  if (t.month < 1 || t.month > 12) return bad("there is no month " + std::to_string(t.month));
  if (!IsValidDate(t.year, t.month, t.day)) return bad("that day does not exist");
  std::int64_t unit = 24 * 3600 * 1000;
  if (take('T') || take('t') || take(' ')) {
    if (!digits(1, 2, t.hour) || t.hour > 23) return bad("the hour is 0 to 23");
    unit = 3600 * 1000;
    if (take(':')) {
      if (!digits(2, 2, t.minute) || t.minute > 59) return bad("the minutes are 00 to 59");
      unit = 60 * 1000;
      if (take(':')) {
        if (!digits(2, 2, t.second) || t.second > 59) return bad("the seconds are 00 to 59");
        unit = 1000;
        if (take('.')) {
          int fraction = 0;
          std::size_t count = 0;
          if (!digits(1, 3, fraction, &count)) return bad("the fraction of a second has one to three digits");
          for (std::size_t k = count; k < 3; ++k) fraction *= 10;
          t.millisecond = fraction;
          unit = count == 1 ? 100 : count == 2 ? 10 : 1;
        }
      }
    }
  }
  if (!take('Z')) take('z');
  if (i < s.size()) {
    if (s[i] == '+' || s[i] == '-') return bad("times are in UTC: leave out the offset, or write Z");
    return bad("'" + s.substr(i) + "' is left over");
  }
  start = ToUnixMilliseconds(t);
  end = start + unit;
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, ReaderOptions& options, std::string& error) {
  bool optionsEnded = false;
  std::optional<std::pair<std::string, std::int64_t>> since;
  std::optional<std::pair<std::string, std::int64_t>> until;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!options.path.empty()) {
        error = "one log file at a time: '" + options.path + "' and '" + arg + "'";
        return false;
      }
      if (arg.empty()) {
        error = "the log file's name is empty";
        return false;
      }
      options.path = arg;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    const std::size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    auto needValue = [&](const char* what) {
      if (value) return true;
      if (i + 1 >= args.size()) {
        error = name + " needs a value: " + what;
        return false;
      }
      value = args[++i];
      return true;
    };
    auto noValue = [&]() {
      if (!value) return true;
      error = name + " takes no value";
      return false;
    };

    if (name == "--help" || name == "-h" || name == "-?" || name == "/?") {
      if (!noValue()) return false;
      options.help = true;
    } else if (name == "--level") {
      if (!needValue("error, warning or info")) return false;
      if (*value == "error") {
        options.minimumLevel = kLogError;
      } else if (*value == "warning") {
        options.minimumLevel = kLogWarning;
      } else if (*value == "info") {
        options.minimumLevel = kLogInformation;
      } else {
        error = "--level takes error, warning or info, not '" + *value + "'";
        return false;
      }
    } else if (name == "--since" || name == "--until") {
      if (!needValue("a UTC date-time such as 2010-11-03T09:05")) return false;
      std::int64_t start = 0;
      std::int64_t end = 0;
      std::string why;
      if (!ParseUtcTime(*value, start, end, why)) {
        error = name + ": " + why;
        return false;
      }
      if (name == "--since") {
        since = std::make_pair(*value, start);
      } else {
        until = std::make_pair(*value, end);
      }
    } else if (name == "--last-cycle") {
      if (!noValue()) return false;
      options.lastCycle = true;
    } else if (name == "--follow") {
      if (!noValue()) return false;
      options.follow = true;
    } else {
      error = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (since && until && since->second >= until->second) {
    error = "--since " + since->first + " is not before --until " + until->first + ": no line can match";
    return false;
  }
  if (options.lastCycle && options.follow) {
    error = "--last-cycle and --follow do not go together: the last cycle is known only at the end of the log";
    return false;
  }
  if (since) options.since = since->second;
  if (until) options.until = until->second;
  return true;
}

int RunLogReader(const std::vector<std::string>& args, ReaderSystem& system) {
  try {
    return Run(args, system);
  } catch (const std::bad_alloc&) {
    system.Err(kProgram + ": out of memory\n");
  } catch (const std::exception& e) {
    system.Err(kProgram + ": " + e.what() + "\n");
  } catch (...) {
    system.Err(kProgram + ": unexpected failure\n");
  }
  return kExitFailure;
}

}  // namespace logreader
