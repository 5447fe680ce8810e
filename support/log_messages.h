// Writing catalogue codes to the activity log. The level comes from the
// message catalogue, so an emitter names only the code.
#pragma once

#include <cstdint>
#include <string>

#include "support/message_catalogue.h"

// "1608"
void LogCode(MessageCode code);
// "1219 5": the code, a blank and the thread's last error, read at this call.
void LogCodeWithLastError(MessageCode code);
// "1622 4": the code, a blank and a number.
void LogCodeWithNumber(MessageCode code, std::int32_t number);
// "1628 host": the code, a blank and a text.
void LogCodeWithText(MessageCode code, const std::wstring& text);
