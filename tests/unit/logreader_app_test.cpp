// vexel-log's command line: filters, the last cycle, following a growing
// log, and what it says about bad input.
#include "tools/logreader/log_reader_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_reader_system.h"

namespace {

using logreader::RunLogReader;

struct Line {
  LogTime time;
  LogLevel level;
  std::wstring message;
};

std::string Log(const std::vector<Line>& lines) {
  std::string bytes;
  for (const Line& l : lines) bytes += LogLineBytes(l.time, l.level, l.message);
  return bytes;
}

// The message column of each printed line: the code ("1219"), "text", or
// the marker of an entry that is no line ("[unparsed", "[incomplete").
std::vector<std::string> Shown(const FakeReaderSystem& system) {
  std::vector<std::string> shown;
  for (const std::string& line : system.OutLines()) {
    if (line.rfind("[", 0) == 0) {
      shown.push_back(line.substr(0, line.find(' ')));
      continue;
    }
    // "2010-11-03T09:05:42.096Z error   1219 ..."
    const std::size_t levelEnd = line.find_first_not_of(' ', line.find(' ') + 1);
    const std::size_t codeStart = line.find_first_not_of(' ', line.find(' ', levelEnd));
    shown.push_back(line.substr(codeStart, line.find(' ', codeStart) - codeStart));
  }
  return shown;
}

using Codes = std::vector<std::string>;

// A day of a machine's log: a management run, two update cycles, a start
// line, foreign bytes and a torn last line.
std::string DayLog() {
  return Log({
             {{2010, 11, 3, 8, 0, 0, 0}, kLogError, L"1219 5"},
             {{2010, 11, 3, 9, 0, 0, 0}, kLogInformation, L"1608"},
             {{2010, 11, 3, 9, 0, 0, 500}, kLogWarning, L"1401 12029"},
             {{2010, 11, 3, 9, 0, 1, 0}, kLogInformation, L"1612"},
             {{2010, 11, 3, 10, 0, 0, 0}, kLogInformation, L"C:\\Windows\\system32\\x.exe"},
             {{2010, 11, 3, 10, 0, 0, 1}, kLogInformation, L"1608"},
             {{2010, 11, 3, 10, 0, 0, 2}, kLogInformation, L"1622 4"},
         }) +
         "junk" +
         Log({
             {{2010, 11, 3, 10, 0, 5, 0}, kLogError, L"1217 -2146885628"},
             {{2010, 11, 3, 10, 0, 6, 0}, kLogInformation, L"1612"},
             {{2010, 11, 3, 23, 59, 59, 999}, kLogError, L"1300 2"},
             {{2010, 11, 4, 0, 0, 0, 0}, kLogInformation, L"1628 example.org"},
         }) +
         Utf16Bytes(L"2010-11-4+0-0-1.0 [err");
}

TEST(LogReaderApp, FiltersByLevelAndTime) {
  struct Case {
    std::vector<std::string> args;
    Codes shown;
  } cases[] = {
      {{}, {"1219", "1608", "1401", "1612", "text", "1608", "1622", "[unparsed", "1217", "1612", "1300", "1628",
            "[incomplete"}},
      {{"--level", "info"}, {"1219", "1608", "1401", "1612", "text", "1608", "1622", "[unparsed", "1217", "1612",
                             "1300", "1628", "[incomplete"}},
      {{"--level", "warning"}, {"1219", "1401", "[unparsed", "1217", "1300", "[incomplete"}},
      {{"--level=error"}, {"1219", "[unparsed", "1217", "1300", "[incomplete"}},
      {{"--since", "2010-11-03T10:00:00.002"}, {"1622", "[unparsed", "1217", "1612", "1300", "1628", "[incomplete"}},
      {{"--since", "2010-11-03T10"}, {"text", "1608", "1622", "[unparsed", "1217", "1612", "1300", "1628",
                                      "[incomplete"}},
      {{"--until", "2010-11-03T09:00:00.5"}, {"1219", "1608", "1401", "[unparsed", "[incomplete"}},
      {{"--until", "2010-11-03T09:00:00.499"}, {"1219", "1608", "[unparsed", "[incomplete"}},
      // A date alone takes in the whole day, to its last millisecond.
      {{"--since=2010-11-03", "--until=2010-11-03"}, {"1219", "1608", "1401", "1612", "text", "1608", "1622",
                                                      "[unparsed", "1217", "1612", "1300", "[incomplete"}},
      {{"--since", "2010-11-4"}, {"[unparsed", "1628", "[incomplete"}},
      {{"--since", "2010-11-03 09:00Z", "--until", "2010-11-03t09:00z"}, {"1608", "1401", "1612", "[unparsed",
                                                                          "[incomplete"}},
      {{"--level", "error", "--since", "2010-11-03T10:00", "--until", "2010-11-03T23"},
       {"[unparsed", "1217", "1300", "[incomplete"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    FakeReaderSystem system;
    system.content = DayLog();
    std::vector<std::string> args = c.args;
    args.push_back(system.path);
    EXPECT_EQ(RunLogReader(args, system), logreader::kExitShown) << system.err;
    EXPECT_EQ(Shown(system), c.shown);
  }
}

TEST(LogReaderApp, LastCycle) {
  const LogTime t{2010, 11, 3, 9, 0, 0, 0};
  struct Case {
    const char* name;
    std::string log;
    std::vector<std::string> extraArgs;
    int exit;
    Codes shown;
    std::string note;  // part of what standard error says
  } cases[] = {
      {"one cycle among other lines",
       Log({{t, kLogError, L"1219 5"}, {t, kLogInformation, L"1608"}, {t, kLogWarning, L"1409"},
            {t, kLogInformation, L"1612"}, {t, kLogInformation, L"1620"}}),
       {}, logreader::kExitShown, {"1608", "1409", "1612"}, ""},
      {"the last of several cycles",
       Log({{t, kLogInformation, L"1608"}, {t, kLogError, L"1300 2"}, {t, kLogInformation, L"1612"},
            {t, kLogInformation, L"1608"}, {t, kLogError, L"1234 5"}, {t, kLogInformation, L"1612"},
            {t, kLogError, L"1219 5"}}),
       {}, logreader::kExitShown, {"1608", "1234", "1612"}, ""},
      {"an unfinished cycle runs to the end, torn last line included",
       Log({{t, kLogInformation, L"1608"}, {t, kLogInformation, L"1612"}, {t, kLogInformation, L"1608"},
            {t, kLogInformation, L"1600"}}) +
           Utf16Bytes(L"2010-11-3+9-0-0.0 [info] 16"),
       {}, logreader::kExitShown, {"1608", "1600", "[incomplete"}, "has no line 1612"},
      {"a cycle that began after another never ended",
       Log({{t, kLogInformation, L"1608"}, {t, kLogError, L"1217 5"}, {t, kLogInformation, L"1608"},
            {t, kLogInformation, L"1612"}}),
       {}, logreader::kExitShown, {"1608", "1612"}, ""},
      {"foreign bytes inside the cycle are shown, those outside are not",
       "xx" + Log({{t, kLogInformation, L"1608"}}) + "yyy" + Log({{t, kLogInformation, L"1612"}}) + "z" +
           Log({{t, kLogError, L"1219 5"}}),
       {}, logreader::kExitShown, {"1608", "[unparsed", "1612"}, ""},
      {"with a level filter",
       Log({{t, kLogInformation, L"1608"}, {t, kLogError, L"1300 2"}, {t, kLogWarning, L"1409"},
            {t, kLogInformation, L"1612"}}),
       {"--level", "warning"}, logreader::kExitShown, {"1300", "1409"}, ""},
      {"an end without a start is no cycle",
       Log({{t, kLogError, L"1219 5"}, {t, kLogInformation, L"1612"}}), {}, logreader::kExitNoCycle, {},
       "no update cycle"},
      {"a log of error lines only: verbose logging was off",
       Log({{t, kLogError, L"1219 5"}, {t, kLogError, L"1220 5"}}), {}, logreader::kExitNoCycle, {},
       "SilentAutoUpdateVerboseLogging"},
      {"an empty log", "", {}, logreader::kExitNoCycle, {}, "no update cycle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeReaderSystem system;
    system.content = c.log;
    std::vector<std::string> args = {"--last-cycle"};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    args.push_back(system.path);
    EXPECT_EQ(RunLogReader(args, system), c.exit) << system.err;
    EXPECT_EQ(Shown(system), c.shown);
    if (!c.note.empty()) {
      EXPECT_NE(system.err.find(c.note), std::string::npos) << system.err;
    } else {
      EXPECT_EQ(system.err.find("cycle"), std::string::npos) << system.err;
    }
  }
}

TEST(LogReaderApp, BadInputGetsAClearMessageAndAnExitCode) {
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string message;  // part of standard error
  } cases[] = {
      {{"--bogus", "f"}, logreader::kExitUsage, "unknown option '--bogus'"},
      {{"-x", "f"}, logreader::kExitUsage, "unknown option '-x'"},
      {{"--level"}, logreader::kExitUsage, "--level needs a value"},
      {{"--level", "debug", "f"}, logreader::kExitUsage, "--level takes error, warning or info, not 'debug'"},
      {{"--level", "Error", "f"}, logreader::kExitUsage, "not 'Error'"},
      {{"--since", "yesterday", "f"}, logreader::kExitUsage, "--since: 'yesterday' is not a UTC date-time"},
      {{"--since", "2010-13-01", "f"}, logreader::kExitUsage, "there is no month 13"},
      {{"--until", "2010-02-29", "f"}, logreader::kExitUsage, "that day does not exist"},
      {{"--until", "2010-11-03T24:00", "f"}, logreader::kExitUsage, "the hour is 0 to 23"},
      {{"--until", "2010-11-03T09:60", "f"}, logreader::kExitUsage, "the minutes are 00 to 59"},
      {{"--until", "2010-11-03T09:05:42.1234", "f"}, logreader::kExitUsage, "one to three digits"},
      {{"--since", "2010-11-03T09:05+01:00", "f"}, logreader::kExitUsage, "times are in UTC"},
      {{"--since", "2010-11-03T09:05 extra", "f"}, logreader::kExitUsage, "' extra' is left over"},
      {{"--since", "", "f"}, logreader::kExitUsage, "is not a UTC date-time"},
      {{"--since"}, logreader::kExitUsage, "--since needs a value"},
      {{"--since", "2010-11-04", "--until", "2010-11-03", "f"}, logreader::kExitUsage, "is not before --until"},
      {{"--follow=yes", "f"}, logreader::kExitUsage, "--follow takes no value"},
      {{"--last-cycle", "--follow", "f"}, logreader::kExitUsage, "do not go together"},
      {{"a.log", "b.log"}, logreader::kExitUsage, "one log file at a time"},
      {{}, logreader::kExitUsage, "name the log file to read"},
      {{"missing.log"}, logreader::kExitCannotRead, "cannot read missing.log: no such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    FakeReaderSystem system;
    system.path = "f";
    system.content = Log({{{2010, 11, 3, 9, 0, 0, 0}, kLogError, L"1219 5"}});
    EXPECT_EQ(RunLogReader(c.args, system), c.exit);
    EXPECT_NE(system.err.find(c.message), std::string::npos) << system.err;
    EXPECT_EQ(system.out, "");
    if (c.exit == logreader::kExitUsage) {
      EXPECT_NE(system.err.find("--help"), std::string::npos) << system.err;
    }
  }
}

TEST(LogReaderApp, HelpAndTheDefaultLog) {
  for (const char* option : {"--help", "-h"}) {
    FakeReaderSystem system;
    EXPECT_EQ(RunLogReader({option}, system), logreader::kExitShown);
    EXPECT_EQ(system.out, logreader::HelpText());
    EXPECT_TRUE(system.readPaths.empty());
  }
  // Where the platform has a default log, no file needs naming.
  FakeReaderSystem system;
  system.defaultPath = system.path = "C:\\windows\\system32\\Kestran\\Vexel\\VexelInstall.log";
  system.content = Log({{{2010, 11, 3, 9, 0, 0, 0}, kLogError, L"1219 5"}});
  EXPECT_EQ(RunLogReader({}, system), logreader::kExitShown);
  EXPECT_EQ(Shown(system), Codes{"1219"});
  // A name after "--" is a file, even when it looks like an option.
  FakeReaderSystem dashed;
  dashed.path = "--level";
  dashed.content = system.content;
  EXPECT_EQ(RunLogReader({"--", "--level"}, dashed), logreader::kExitShown);
  EXPECT_EQ(Shown(dashed), Codes{"1219"});
}

TEST(LogReaderApp, SaysWhenNothingIsShown) {
  struct Case {
    std::string log;
    std::vector<std::string> args;
    std::string note;
  } cases[] = {
      {"", {"f"}, "the log holds no lines"},
      {Log({{{2010, 11, 3, 9, 0, 0, 0}, kLogInformation, L"1608"}}), {"--level", "error", "f"}, "no line matches"},
  };
  for (const Case& c : cases) {
    FakeReaderSystem system;
    system.path = "f";
    system.content = c.log;
    EXPECT_EQ(RunLogReader(c.args, system), logreader::kExitShown);
    EXPECT_EQ(system.out, "");
    EXPECT_NE(system.err.find(c.note), std::string::npos) << system.err;
  }
  // A file of foreign bytes only is shown as such, and not said to be empty.
  FakeReaderSystem foreign;
  foreign.path = "f";
  foreign.content = "not a log\r\n";
  EXPECT_EQ(RunLogReader({"f"}, foreign), logreader::kExitShown);
  EXPECT_EQ(Shown(foreign), Codes{"[incomplete"});
  EXPECT_EQ(foreign.err, "");
  foreign.out.clear();
  foreign.content += Utf16Bytes(L"\r\n");
  foreign.err.clear();
  EXPECT_EQ(RunLogReader({"f"}, foreign), logreader::kExitShown);
  EXPECT_EQ(Shown(foreign), Codes{"[unparsed"});
  EXPECT_EQ(foreign.err, "vexel-log: 1 stretch of the file is no log line; shown marked [unparsed]\n");
}

TEST(LogReaderApp, FollowShowsEachLineOnceAsItIsCompleted) {
  const LogTime t{2010, 11, 3, 9, 0, 0, 0};
  const std::string first = Log({{t, kLogInformation, L"1608"}});
  const std::string second = Log({{t, kLogError, L"1219 5"}});
  const std::string third = Log({{t, kLogInformation, L"1612"}});
  FakeReaderSystem system;
  system.content = first + second.substr(0, 11);  // the second line is being written, its last unit torn
  std::vector<Codes> seenAtWait;
  system.onWait = [&](int wait) {
    seenAtWait.push_back(Shown(system));
    switch (wait) {
      case 0: system.content += second.substr(11, 20); return true;
      case 1: system.content += second.substr(31); return true;
      case 2: return true;  // nothing new
      case 3: system.content += third + Utf16Bytes(L"2010-11-3+9"); return true;
      default: return false;
    }
  };
  EXPECT_EQ(RunLogReader({"--follow", system.path}, system), logreader::kExitShown);
  ASSERT_EQ(seenAtWait.size(), 5u);
  EXPECT_EQ(seenAtWait[0], Codes{"1608"});
  EXPECT_EQ(seenAtWait[1], Codes{"1608"});
  EXPECT_EQ(seenAtWait[2], (Codes{"1608", "1219"}));
  EXPECT_EQ(seenAtWait[3], (Codes{"1608", "1219"}));
  EXPECT_EQ(seenAtWait[4], (Codes{"1608", "1219", "1612"}));
  // When following ends, what is left of a line is shown as incomplete.
  EXPECT_EQ(Shown(system), (Codes{"1608", "1219", "1612", "[incomplete"}));
}

TEST(LogReaderApp, FollowStartsOverWhenTheLogIsReplaced) {
  const LogTime t{2010, 11, 3, 9, 0, 0, 0};
  FakeReaderSystem system;
  system.content = Log({{t, kLogError, L"1219 5"}, {t, kLogError, L"1220 5"}});
  system.onWait = [&](int wait) {
    switch (wait) {
      case 0: system.content = Log({{t, kLogError, L"1221 5"}}); return true;
      case 1: system.exists = false; return true;
      case 2: system.exists = true; system.content += Log({{t, kLogError, L"1222 5"}}); return true;
      default: return false;
    }
  };
  EXPECT_EQ(RunLogReader({"--follow", system.path}, system), logreader::kExitShown);
  EXPECT_EQ(Shown(system), (Codes{"1219", "1220", "1221", "1222"}));
  EXPECT_NE(system.err.find("shorter than before"), std::string::npos) << system.err;
  EXPECT_NE(system.err.find("now: no such file; waiting"), std::string::npos) << system.err;
}

}  // namespace
