#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/file_tree.h"
#include "platform/seam.h"
#include "platform/win32/utf8_win32.h"

namespace platform {
namespace {

std::uint64_t FileTimeValue(const FILETIME& t) {
  return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::uint64_t SizeValue(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

bool IsFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) ::FindClose(h_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

class Win32FileTree final : public FileTree {
 public:
  std::uint32_t ShellDelete(const std::string& path) override {
    std::wstring wide;
    if (!win32::PathToWide(path, wide)) return ::GetLastError();
    wide.push_back(L'\0');  // the list of paths ends in a second zero
    SHFILEOPSTRUCTW operation{};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = wide.c_str();
    operation.pTo = nullptr;
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    return static_cast<std::uint32_t>(::SHFileOperationW(&operation));
  }

  StepOr<std::vector<FolderEntry>> ListFolder(const std::string& folder) override {
    using Result = StepOr<std::vector<FolderEntry>>;
    // An empty folder would make the pattern "\*", the root of the drive.
    if (folder.empty()) {
      ::SetLastError(ERROR_PATH_NOT_FOUND);
      return Result::Failure(ERROR_PATH_NOT_FOUND);
    }
    std::wstring wide;
    if (!win32::PathToWide(folder, wide)) return Result::Failure(::GetLastError());
    wide += L"\\*";
    WIN32_FIND_DATAW data{};
    FindHandle find(::FindFirstFileW(wide.c_str(), &data));
    if (!find.Valid()) return Result::Failure(::GetLastError());
    std::vector<FolderEntry> entries;
    do {
      FolderEntry entry;
      entry.nameConverted = win32::WideToUtf8(data.cFileName, 0, entry.name);
      if (!entry.nameConverted) entry.name.clear();
      entry.isFolder = IsFolder(data.dwFileAttributes);
      entry.isLink = IsLink(data.dwFileAttributes);
      entry.size = SizeValue(data.nFileSizeHigh, data.nFileSizeLow);
      entry.lastWriteTime = FileTimeValue(data.ftLastWriteTime);
      entries.push_back(std::move(entry));
    } while (::FindNextFileW(find.Get(), &data));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) return Result::Failure(error);
    return Result::Success(std::move(entries));
  }

  StepOr<PathInfo> Examine(const std::string& path) override {
    std::wstring wide;
    if (!win32::PathToWide(path, wide)) return StepOr<PathInfo>::Failure(::GetLastError());
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
      return StepOr<PathInfo>::Failure(::GetLastError());
    }
    PathInfo info;
    info.isFolder = IsFolder(data.dwFileAttributes);
    info.isLink = IsLink(data.dwFileAttributes);
    info.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : SizeValue(data.nFileSizeHigh, data.nFileSizeLow);
    info.lastWriteTime = FileTimeValue(data.ftLastWriteTime);
    return StepOr<PathInfo>::Success(info);
  }

  Step DeleteFile(const std::string& path) override {
    std::wstring wide;
    if (!win32::PathToWide(path, wide) || !::DeleteFileW(wide.c_str())) return Step::Failure(::GetLastError());
    return Step::Success();
  }

  Step RemoveFolder(const std::string& path) override {
    std::wstring wide;
    if (!win32::PathToWide(path, wide) || !::RemoveDirectoryW(wide.c_str())) return Step::Failure(::GetLastError());
    return Step::Success();
  }

  Step CreateFolder(const std::string& path) override {
    std::wstring wide;
    if (!win32::PathToWide(path, wide) || !::CreateDirectoryW(wide.c_str(), nullptr)) {
      return Step::Failure(::GetLastError());
    }
    return Step::Success();
  }
};

}  // namespace

template <>
FileTree& PlatformDefault<FileTree>() {
  static Win32FileTree tree;
  return tree;
}

}  // namespace platform
