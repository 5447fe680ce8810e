// Conversion between wide text and UTF-8.
#pragma once

#include <string>

#include "platform/step.h"

namespace platform {

class Utf8Conversion {
 public:
  virtual ~Utf8Conversion() = default;
  // WideCharToMultiByte(CP_UTF8, 0): the UTF-8 form of all of `text`
  // (embedded zero characters included); empty text gives empty text.
  // Unpaired surrogates become U+FFFD. Failure: the conversion failed; the
  // error number says why (the thread's last error is set).
  virtual StepOr<std::string> WideToUtf8(const std::wstring& text) = 0;
  // MultiByteToWideChar(CP_UTF8, 0): the wide form of all of `utf8`; empty
  // text gives empty text. Malformed sequences become U+FFFD. Failure as
  // above.
  virtual StepOr<std::wstring> Utf8ToWide(const std::string& utf8) = 0;
};

}  // namespace platform
