// The words an activity log entry is printed with. The meaning of a code
// comes from the message catalogue (support/message_catalogue.h), the names
// of the numbers after it from tools/logreader/windows_errors.h.
#pragma once

#include <cstdint>
#include <string>

#include "support/log_level.h"
#include "tools/logreader/log_decoder.h"

namespace logreader {

// One printed line, without its line end:
//   2010-11-03T09:05:42.096Z error   1219 service create: opening ... failed; last Windows error 5 (ERROR_ACCESS_DENIED)
//   [unparsed at byte 120, 7 bytes: an odd number of bytes, no UTF-16 text] 8-bit text "hello\r\n"
std::string DescribeEntry(const LogEntry& entry);

// "info", "warning", "error"
const char* LevelName(LogLevel level);

// "last Windows error 5 (ERROR_ACCESS_DENIED)"; a negative value is also
// shown as the 32-bit value in hexadecimal, which is how HRESULTs are known.
std::string ExplainWindowsError(std::int32_t value);

// "control code 4 = interrogate (SERVICE_CONTROL_INTERROGATE)"
std::string ExplainServiceControl(std::int32_t value);

// The text in double quotes, control characters written as escapes.
std::string QuoteText(const std::string& utf8);

// Bytes that are no line, shown as UTF-16 text, 8-bit text or hexadecimal,
// whichever they look like; long runs are shortened.
std::string ShowForeignBytes(const std::string& bytes);

}  // namespace logreader
