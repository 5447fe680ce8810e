#include <windows.h>

#include <vector>

#include "platform/process_paths.h"
#include "platform/seam.h"

namespace platform {
namespace {

class Win32ProcessPaths final : public ProcessPaths {
 public:
  StepOr<std::wstring> FullPathName(const std::wstring& name) override {
    // Start with MAX_PATH; when the path needs more, GetFullPathNameW reports
    // the size it needs (terminator included) and the buffer grows to it.
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
      if (n == 0) return StepOr<std::wstring>::Failure(::GetLastError());
      if (n < buffer.size()) return StepOr<std::wstring>::Success(std::wstring(buffer.data(), n));
      buffer.assign(n + 1, L'\0');
    }
    return StepOr<std::wstring>::Failure(ERROR_INSUFFICIENT_BUFFER);
  }
};

}  // namespace

template <>
ProcessPaths& PlatformDefault<ProcessPaths>() {
  static Win32ProcessPaths paths;
  return paths;
}

}  // namespace platform
