// The level of an activity log line: a plain integer with three values.
#pragma once

using LogLevel = int;

inline constexpr LogLevel kLogInformation = 0;
inline constexpr LogLevel kLogWarning = 1;
inline constexpr LogLevel kLogError = 2;

// "info", "warning" or "error"; the line carries this word.
const wchar_t* LogLevelWord(LogLevel level);
