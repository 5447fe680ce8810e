#include "platform/seam.h"
#include "platform/utf8_conversion.h"
#include "support/utf16.h"

namespace platform {
namespace {

// The portable converters replace what they cannot convert with U+FFFD, as
// the Windows functions do with flags 0, so no conversion fails.
class PosixUtf8Conversion final : public Utf8Conversion {
 public:
  StepOr<std::string> WideToUtf8(const std::wstring& text) override {
    return StepOr<std::string>::Success(::WideToUtf8(text));
  }
  StepOr<std::wstring> Utf8ToWide(const std::string& utf8) override {
    return StepOr<std::wstring>::Success(Utf8ToWideLossy(utf8));
  }
};

}  // namespace

template <>
Utf8Conversion& PlatformDefault<Utf8Conversion>() {
  static PosixUtf8Conversion conversion;
  return conversion;
}

}  // namespace platform
