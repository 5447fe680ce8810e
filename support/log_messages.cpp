#include "support/log_messages.h"

#include "platform/last_error.h"
#include "support/activity_log.h"

namespace {
LogLevel LevelOf(MessageCode code) { return MessageFor(code).level; }
std::int32_t Number(MessageCode code) { return static_cast<std::int32_t>(code); }
}  // namespace

void LogCode(MessageCode code) { LogWrite(LevelOf(code), FormatNumber(Number(code))); }

void LogCodeWithLastError(MessageCode code) {
  // Read the error first: nothing on the way to the file may change it.
  const std::int32_t error = static_cast<std::int32_t>(platform::LastError());
  LogCodeWithNumber(code, error);
}

void LogCodeWithNumber(MessageCode code, std::int32_t number) {
  LogWrite(LevelOf(code), FormatNumber(Number(code)) + L" " + FormatNumber(number));
}

void LogCodeWithText(MessageCode code, const std::wstring& text) {
  LogWrite(LevelOf(code), FormatNumber(Number(code)) + L" " + text);
}
