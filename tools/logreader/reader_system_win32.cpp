#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/win32/handle_win32.h"
#include "support/utf16.h"
#include "tools/logreader/reader_system.h"
#include "tools/logreader/windows_errors.h"

namespace logreader {
namespace {

// Output is handed on in pieces of at most this many bytes or characters.
constexpr std::size_t kOutputPiece = 16 * 1024;

std::string ErrorWords(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case ERROR_PATH_NOT_FOUND: return "no such folder";
    case ERROR_ACCESS_DENIED: return "access denied (a folder, or a file this account may not read)";
    case ERROR_SHARING_VIOLATION: return "another program holds the file locked";
    case ERROR_INVALID_NAME: return "not a valid file name";
    default: break;
  }
  std::string words = "Windows error " + std::to_string(error);
  if (const char* name = WindowsErrorName(error)) words += std::string(" (") + name + ")";
  return words;
}

// Text to the console as characters, whatever the console's code page; to a
// pipe or a file as UTF-8 bytes.
void WriteText(DWORD which, const std::string& utf8) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) return;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Utf8ToWideLossy(utf8);
    std::size_t done = 0;
    while (done < wide.size()) {
      std::size_t n = std::min(kOutputPiece, wide.size() - done);
      // Keep a surrogate pair in one piece.
      if (done + n < wide.size() && wide[done + n - 1] >= 0xD800 && wide[done + n - 1] <= 0xDBFF) --n;
      DWORD written = 0;
      if (!::WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(n), &written, nullptr) || written == 0) {
        return;
      }
      done += written;
    }
    return;
  }
  std::size_t done = 0;
  while (done < utf8.size()) {
    const DWORD n = static_cast<DWORD>(std::min(kOutputPiece, utf8.size() - done));
    DWORD written = 0;
    if (!::WriteFile(handle, utf8.data() + done, n, &written, nullptr) || written == 0) return;
    done += written;
  }
}

class Win32ReaderSystem final : public ReaderSystem {
 public:
  ~Win32ReaderSystem() override { Flush(); }

  // The service's current folder is the system folder, so its log lies
  // there. A 32-bit reader sees the same folder as the 32-bit service.
  std::string DefaultLogPath() override {
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    return WideToUtf8(std::wstring(folder, n)) + "\\Kestran\\Vexel\\VexelInstall.log";
  }

  bool Read(const std::string& path, std::uint64_t offset, std::size_t maxBytes, std::string& out,
            std::uint64_t& fileSize, std::string& error) override {
    // Full sharing: the service opens the log for appending while this runs,
    // and may even have it deleted.
    const std::wstring widePath = Utf8ToWideLossy(path);
    platform::win32::UniqueHandle file(::CreateFileW(widePath.c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      error = ErrorWords(::GetLastError());
      return false;
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
      error = "it is not a file";
      return false;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) {
      error = ErrorWords(::GetLastError());
      return false;
    }
    fileSize = static_cast<std::uint64_t>(size.QuadPart);
    std::string bytes;
    if (offset < fileSize) {
      LARGE_INTEGER position;
      position.QuadPart = static_cast<LONGLONG>(offset);
      if (!::SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN)) {
        error = ErrorWords(::GetLastError());
        return false;
      }
      bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, fileSize - offset)));
      std::size_t got = 0;
      while (got < bytes.size()) {
        DWORD n = 0;
        if (!::ReadFile(file.Get(), &bytes[got], static_cast<DWORD>(bytes.size() - got), &n, nullptr)) {
          error = ErrorWords(::GetLastError());
          return false;
        }
        if (n == 0) break;  // the file was cut meanwhile
        got += n;
      }
      bytes.resize(got);
    }
    out += bytes;
    return true;
  }

  void Out(const std::string& text) override {
    buffered_ += text;
    if (buffered_.size() >= kOutputPiece) Flush();
  }

  void Err(const std::string& text) override {
    Flush();
    WriteText(STD_ERROR_HANDLE, text);
  }

  void Flush() override {
    WriteText(STD_OUTPUT_HANDLE, buffered_);
    buffered_.clear();
  }

  bool WaitForMore() override {
    Flush();
    ::Sleep(500);
    return true;
  }

 private:
  std::string buffered_;
};

}  // namespace

std::unique_ptr<ReaderSystem> MakePlatformReaderSystem() { return std::make_unique<Win32ReaderSystem>(); }

}  // namespace logreader
