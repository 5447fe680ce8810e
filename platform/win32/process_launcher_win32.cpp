#include <windows.h>

#include "platform/process_launcher.h"
#include "platform/seam.h"
#include "platform/win32/handle_win32.h"

namespace platform {
namespace {

class Win32ProcessLauncher final : public ProcessLauncher {
 public:
  Step StartProcess(const std::wstring& application, std::wstring& commandLine,
                    std::uint32_t creationFlags) override {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // std::wstring keeps its text zero-terminated and writable in place.
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), &commandLine[0], nullptr, nullptr,
                          FALSE, creationFlags, nullptr, nullptr, &startup, &process)) {
      return Step::Failure(::GetLastError());
    }
    win32::UniqueHandle thread(process.hThread);
    win32::UniqueHandle child(process.hProcess);
    return Step::Success();
  }
};

}  // namespace

template <>
ProcessLauncher& PlatformDefault<ProcessLauncher>() {
  static Win32ProcessLauncher launcher;
  return launcher;
}

}  // namespace platform
