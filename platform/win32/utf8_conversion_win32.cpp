#include <windows.h>

#include "platform/seam.h"
#include "platform/utf8_conversion.h"
#include "platform/win32/utf8_win32.h"

namespace platform {
namespace {

class Win32Utf8Conversion final : public Utf8Conversion {
 public:
  StepOr<std::string> WideToUtf8(const std::wstring& text) override {
    std::string utf8;
    if (!win32::WideToUtf8(text, 0, utf8)) return StepOr<std::string>::Failure(::GetLastError());
    return StepOr<std::string>::Success(std::move(utf8));
  }
  StepOr<std::wstring> Utf8ToWide(const std::string& utf8) override {
    // Flags 0: a malformed sequence becomes U+FFFD rather than a failure.
    std::wstring wide;
    if (utf8.empty()) return StepOr<std::wstring>::Success(std::move(wide));
    const int size = static_cast<int>(utf8.size());
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (n <= 0) return StepOr<std::wstring>::Failure(::GetLastError());
    wide.resize(static_cast<std::size_t>(n));
    n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    if (n <= 0) return StepOr<std::wstring>::Failure(::GetLastError());
    wide.resize(static_cast<std::size_t>(n));
    return StepOr<std::wstring>::Success(std::move(wide));
  }
};

}  // namespace

template <>
Utf8Conversion& PlatformDefault<Utf8Conversion>() {
  static Win32Utf8Conversion conversion;
  return conversion;
}

}  // namespace platform
