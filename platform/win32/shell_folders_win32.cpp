#include <windows.h>
#include <shlobj.h>

#include "platform/seam.h"
#include "platform/shell_folders.h"

namespace platform {
namespace {

// SHGetFolderPathW writes at most MAX_PATH characters; the buffer starts
// zero-filled so that a failed call leaves it empty.
StepOr<std::wstring> FolderPath(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  const HRESULT hr = ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(hr)) {
    const ErrorNumber error = static_cast<ErrorNumber>(hr);
    ::SetLastError(error);
    return StepOr<std::wstring>::Failure(error);
  }
  buffer[MAX_PATH - 1] = L'\0';
  return StepOr<std::wstring>::Success(std::wstring(buffer));
}

class Win32ShellFolders final : public ShellFolders {
 public:
  StepOr<std::wstring> SystemFolder() override { return FolderPath(CSIDL_SYSTEM); }
  StepOr<std::wstring> AppDataFolder() override { return FolderPath(CSIDL_APPDATA); }
};

}  // namespace

template <>
ShellFolders& PlatformDefault<ShellFolders>() {
  static Win32ShellFolders folders;
  return folders;
}

}  // namespace platform
