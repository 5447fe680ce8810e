#include <windows.h>

#include <atomic>
#include <string>

#include "platform/file_store.h"
#include "platform/seam.h"
#include "platform/win32/handle_win32.h"
#include "platform/win32/utf8_win32.h"

namespace platform {
namespace {

// One ReadFile or WriteFile moves at most this many bytes.
constexpr std::size_t kMaxTransfer = 1 << 20;

class Win32FileReader final : public FileReader {
 public:
  explicit Win32FileReader(win32::UniqueHandle file) : file_(std::move(file)) {}
  StepOr<std::size_t> Read(void* buffer, std::size_t size) override {
    DWORD read = 0;
    const DWORD ask = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    if (!::ReadFile(file_.Get(), buffer, ask, &read, nullptr)) {
      return StepOr<std::size_t>::Failure(::GetLastError());
    }
    return StepOr<std::size_t>::Success(read);
  }

 private:
  win32::UniqueHandle file_;
};

class Win32FileWriter final : public FileWriter {
 public:
  explicit Win32FileWriter(win32::UniqueHandle file) : file_(std::move(file)) {}
  Step Write(const void* bytes, std::size_t size) override {
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
      const DWORD ask = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
      DWORD written = 0;
      if (!::WriteFile(file_.Get(), p, ask, &written, nullptr)) return Step::Failure(::GetLastError());
      if (written == 0) {
        ::SetLastError(ERROR_WRITE_FAULT);
        return Step::Failure(ERROR_WRITE_FAULT);
      }
      p += written;
      size -= written;
    }
    return Step::Success();
  }
  Step FlushAndClose() override {
    if (!::FlushFileBuffers(file_.Get())) {
      const DWORD error = ::GetLastError();
      file_.Reset();
      ::SetLastError(error);
      return Step::Failure(error);
    }
    if (!file_.Close()) return Step::Failure(::GetLastError());
    return Step::Success();
  }

 private:
  win32::UniqueHandle file_;
};

Step Refused() { return Step::Failure(::GetLastError()); }

class Win32FileStore final : public FileStore {
 public:
  StepOr<std::unique_ptr<FileReader>> OpenForReading(const std::string& path) override {
    using Result = StepOr<std::unique_ptr<FileReader>>;
    std::wstring wide;
    if (!win32::PathToWide(path, wide)) return Result::Failure(::GetLastError());
    win32::UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                           nullptr));
    if (!file.Valid()) return Result::Failure(::GetLastError());
    return Result::Success(std::make_unique<Win32FileReader>(std::move(file)));
  }

  StepOr<NewFile> CreateBeside(const std::string& target) override {
    static std::atomic<unsigned> counter{0};
    const std::string process = std::to_string(::GetCurrentProcessId());
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = target + "." + process + "-" + std::to_string(counter++) + ".tmp";
      std::wstring wide;
      if (!win32::PathToWide(path, wide)) return StepOr<NewFile>::Failure(::GetLastError());
      win32::UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
        return StepOr<NewFile>::Failure(error);
      }
      return StepOr<NewFile>::Success(NewFile{std::make_unique<Win32FileWriter>(std::move(file)), std::move(path)});
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return StepOr<NewFile>::Failure(ERROR_FILE_EXISTS);
  }

  Step Replace(const std::string& from, const std::string& target) override {
    std::wstring wideFrom;
    std::wstring wideTarget;
    if (!win32::PathToWide(from, wideFrom) || !win32::PathToWide(target, wideTarget)) return Refused();
    // MoveFileExW replaces a read-only file too on some systems; a file its
    // owner marked read-only keeps its content, as an open for writing
    // would have refused it.
    const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return Step::Failure(ERROR_ACCESS_DENIED);
    }
    if (!::MoveFileExW(wideFrom.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return Refused();
    }
    return Step::Success();
  }

  Step Delete(const std::string& path) override {
    std::wstring wide;
    if (!win32::PathToWide(path, wide)) return Refused();
    if (!::DeleteFileW(wide.c_str())) return Refused();
    return Step::Success();
  }
};

}  // namespace

template <>
FileStore& PlatformDefault<FileStore>() {
  static Win32FileStore store;
  return store;
}

}  // namespace platform
