#include <windows.h>

#include "platform/log_file.h"
#include "platform/seam.h"
#include "platform/win32/handle_win32.h"

namespace platform {
namespace {

class Win32SharedAppendFile final : public SharedAppendFile {
 public:
  Step Append(const std::string& path, const void* bytes, std::size_t size) override {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as one unit, whoever else has it open.
    win32::UniqueHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return Step::Failure(::GetLastError());
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes, static_cast<DWORD>(size), &written, nullptr) || written != size) {
      return Step::Failure(::GetLastError());
    }
    if (!file.Close()) return Step::Failure(::GetLastError());
    return Step::Success();
  }
};

}  // namespace

template <>
SharedAppendFile& PlatformDefault<SharedAppendFile>() {
  static Win32SharedAppendFile file;
  return file;
}

}  // namespace platform
