#include <windows.h>

#include "platform/file_system.h"
#include "platform/seam.h"

namespace platform {
namespace {

HANDLE Native(FileHandle file) { return reinterpret_cast<HANDLE>(file.value); }

Step LastFailure() { return Step::Failure(::GetLastError()); }

template <class T>
StepOr<T> LastFailureOr() {
  return StepOr<T>::Failure(::GetLastError());
}

// A handle the caller may use: not none, and not INVALID_HANDLE_VALUE,
// which CloseHandle and the others would take for the current process.
bool Usable(FileHandle file) {
  if (file && Native(file) != INVALID_HANDLE_VALUE) return true;
  ::SetLastError(ERROR_INVALID_HANDLE);
  return false;
}

StepOr<FileHandle> Opened(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) return LastFailureOr<FileHandle>();
  return StepOr<FileHandle>::Success(FileHandle{reinterpret_cast<std::uintptr_t>(h)});
}

class Win32FileSystem final : public FileSystem {
 public:
  Step CreateFolder(const std::wstring& path) override {
    return ::CreateDirectoryW(path.c_str(), nullptr) ? Step::Success() : LastFailure();
  }

  Step RemoveFolder(const std::wstring& path) override {
    return ::RemoveDirectoryW(path.c_str()) ? Step::Success() : LastFailure();
  }

  StepOr<FileHandle> CreateForWriting(const std::wstring& path) override {
    return Opened(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  StepOr<FileHandle> OpenForReading(const std::wstring& path) override {
    return Opened(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  StepOr<std::uint32_t> FileSize(FileHandle file) override {
    if (!Usable(file)) return StepOr<std::uint32_t>::Failure(ERROR_INVALID_HANDLE);
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetFileSize(Native(file), nullptr);
    // INVALID_FILE_SIZE is also a valid low part: only the error tells.
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return LastFailureOr<std::uint32_t>();
    return StepOr<std::uint32_t>::Success(low);
  }

  Step Write(FileHandle file, const void* bytes, std::uint32_t size) override {
    if (!Usable(file)) return Step::Failure(ERROR_INVALID_HANDLE);
    DWORD written = 0;
    if (!::WriteFile(Native(file), bytes, size, &written, nullptr)) return LastFailure();
    if (written != size) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return Step::Failure(ERROR_WRITE_FAULT);
    }
    return Step::Success();
  }

  StepOr<std::uint32_t> Read(FileHandle file, void* buffer, std::uint32_t size) override {
    if (!Usable(file)) return StepOr<std::uint32_t>::Failure(ERROR_INVALID_HANDLE);
    DWORD read = 0;
    if (!::ReadFile(Native(file), buffer, size, &read, nullptr)) return LastFailureOr<std::uint32_t>();
    return StepOr<std::uint32_t>::Success(read);
  }

  Step Close(FileHandle file) override {
    if (!Usable(file)) return Step::Failure(ERROR_INVALID_HANDLE);
    return ::CloseHandle(Native(file)) ? Step::Success() : LastFailure();
  }

  Step RemoveFile(const std::wstring& path) override {
    return ::DeleteFileW(path.c_str()) ? Step::Success() : LastFailure();
  }
};

}  // namespace

template <>
FileSystem& PlatformDefault<FileSystem>() {
  static Win32FileSystem files;
  return files;
}

}  // namespace platform
