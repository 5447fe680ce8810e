#include "support/activity_log.h"

#include <sstream>

#include "config/update_settings.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/log_file.h"
#include "platform/path_separator.h"
#include "platform/seam.h"
#include "support/utf16.h"

#ifdef _WIN32
const char LogFilePath[] = "Kestran\\Vexel\\VexelInstall.log";
#else
const char LogFilePath[] = "Kestran/Vexel/VexelInstall.log";
#endif

const wchar_t* LogLevelWord(LogLevel level) {
  switch (level) {
    case kLogInformation: return L"info";
    case kLogWarning: return L"warning";
    case kLogError: return L"error";
    default: return L"";
  }
}

std::wstring FormatNumber(std::int32_t value) {
  std::wostringstream out;  // classic locale, decimal, no width
  out << value;
  return out.str();
}

std::wstring FormatLogLine(const LogTime& t, LogLevel level, const std::wstring& message) {
  std::wstring line;
  line.reserve(40 + message.size());
  line += FormatNumber(t.year);
  line += L'-';
  line += FormatNumber(t.month);
  line += L'-';
  line += FormatNumber(t.day);
  line += L'+';
  line += FormatNumber(t.hour);
  line += L'-';
  line += FormatNumber(t.minute);
  line += L'-';
  line += FormatNumber(t.second);
  line += L'.';
  line += FormatNumber(t.milliseconds);
  line += L" [";
  line += LogLevelWord(level);
  line += L"] ";
  line += message;
  line += L"\r\n";
  return line;
}

void LogWrite(LogLevel level, std::wstring message) {
  if (level != kLogError && !UpdateSettings.verboseLogging) return;

  // Writing a line must not disturb the thread's last error: callers log a
  // cascade of codes that all carry the error of the step that failed.
  const platform::ErrorNumber saved_error = platform::LastError();

  const platform::UtcTime now = platform::Seam<platform::SystemClock>::Get().NowUtc();
  const LogTime time{now.year, now.month, now.day, now.hour, now.minute, now.second, now.milliseconds};

  std::string bytes;
  AppendUtf16LE(FormatLogLine(time, level, message), bytes);
  // A failure to open, write or close is swallowed: the line is lost.
  platform::Seam<platform::SharedAppendFile>::Get().Append(LogFilePath, bytes.data(), bytes.size());
  platform::SetLastError(saved_error);
}
