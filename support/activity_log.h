// The activity log: the program's only diagnostic output.
//
// The log is append-only. Each call opens the file, appends one line and
// closes it again; there is no log object and no lock, so the service thread,
// the control handler's thread and other processes may write at once. Error
// lines are always written; information and warning lines only once verbose
// logging has been switched on (UpdateSettings.verboseLogging).
//
// A line: year-month-day+hour-minute-second.milliseconds [level] message CR LF,
// all numbers in plain decimal, the time in UTC, the whole line in UTF-16LE
// without a byte-order mark.
#pragma once

#include <cstdint>
#include <string>

#include "support/log_level.h"

// The log file, relative to the current directory. A service's current
// directory is the system folder, so there it lies beside the configuration
// file. Its folders are never created.
extern const char LogFilePath[];

// Writes one line, or nothing when the level is below the verbose threshold.
// Never reports a failure: a line that cannot be written is lost.
void LogWrite(LogLevel level, std::wstring message);

// The value in plain decimal: "-" for a negative value, no leading zeros, no
// separators. Callers pass unsigned Windows error codes through it unchanged,
// so 4294967295 is written as -1.
std::wstring FormatNumber(std::int32_t value);

// The whole line that LogWrite would append for this time, level and message,
// before its encoding as UTF-16LE.
struct LogTime {
  int year, month, day, hour, minute, second, milliseconds;
};
std::wstring FormatLogLine(const LogTime& time, LogLevel level, const std::wstring& message);
