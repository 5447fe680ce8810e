// UTF-8 conversion through the portable converters, failing on demand.
#pragma once

#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/utf8_conversion.h"
#include "support/utf16.h"

class FakeUtf8Conversion final : public platform::Utf8Conversion {
 public:
  platform::ErrorNumber failWideToUtf8With = 0;
  platform::ErrorNumber failUtf8ToWideWith = 0;
  std::vector<std::string> utf8Inputs;  // every text Utf8ToWide was given

  platform::StepOr<std::string> WideToUtf8(const std::wstring& text) override {
    if (failWideToUtf8With != 0) {
      platform::SetLastError(failWideToUtf8With);
      return platform::StepOr<std::string>::Failure(failWideToUtf8With);
    }
    return platform::StepOr<std::string>::Success(::WideToUtf8(text));
  }
  platform::StepOr<std::wstring> Utf8ToWide(const std::string& utf8) override {
    utf8Inputs.push_back(utf8);
    if (failUtf8ToWideWith != 0) {
      platform::SetLastError(failUtf8ToWideWith);
      return platform::StepOr<std::wstring>::Failure(failUtf8ToWideWith);
    }
    return platform::StepOr<std::wstring>::Success(Utf8ToWideLossy(utf8));
  }
};
