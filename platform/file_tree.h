// Folders and the files in them: the steps of the file manager.
//
// Paths are narrow text in UTF-8; on Windows the adapter converts them to
// wide text, and a path that is not valid UTF-8 fails with
// ERROR_NO_UNICODE_TRANSLATION (1113). Relative paths are resolved against
// the current directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/step.h"

namespace platform {

// ERROR_NO_UNICODE_TRANSLATION: the error of a step whose path is not UTF-8.
inline constexpr ErrorNumber kPathNotUtf8 = 1113;

// One entry of a folder, as the enumeration reports it.
struct FolderEntry {
  std::string name;               // UTF-8; empty when `nameConverted` is false
  bool nameConverted = true;      // false: the name has no UTF-8 form (Windows only)
  bool isFolder = false;          // a folder, and not a link
  bool isLink = false;            // a reparse point or symbolic link, to a file or a folder
  std::uint64_t size = 0;         // bytes, for a file
  std::uint64_t lastWriteTime = 0;  // UTC, 100-nanosecond units since 1601-01-01
};

// What a path names.
struct PathInfo {
  bool isFolder = false;  // a folder, and not a link
  bool isLink = false;
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0;
};

class FileTree {
 public:
  virtual ~FileTree() = default;
  // SHFileOperationW(FO_DELETE, FOF_SILENT | FOF_NOCONFIRMATION |
  // FOF_NOERRORUI) of `path`, passed double-zero-terminated: the file, or
  // the folder with everything in it, is removed. Returns the operation's
  // own result: 0 when done, other values as the shell reports them (2 and
  // 0x7C and 0x402 for a path that does not exist, 1113 for a path that is
  // not UTF-8). POSIX: recursive removal that never follows a link; 0 when
  // done, 2 when the path does not exist, else the Windows error number of
  // the first failure (nothing is retried).
  virtual std::uint32_t ShellDelete(const std::string& path) = 0;
  // FindFirstFileW(folder "\*") and FindNextFileW until the end: every
  // entry of the folder, "." and ".." included where the platform reports
  // them, in the platform's order. Failure: the enumeration cannot start
  // (no such folder, not a folder, no right to list it).
  virtual StepOr<std::vector<FolderEntry>> ListFolder(const std::string& folder) = 0;
  // GetFileAttributesExW: what `path` names, without following a final
  // link. Failure: nothing is there (2 or 3), or it cannot be examined.
  virtual StepOr<PathInfo> Examine(const std::string& path) = 0;
  // DeleteFileW of one file (a link: the link itself). Failure: it is still
  // there, or was never there.
  virtual Step DeleteFile(const std::string& path) = 0;
  // RemoveDirectoryW of one empty folder. Failure: not empty, absent, or
  // not removable.
  virtual Step RemoveFolder(const std::string& path) = 0;
  // CreateDirectoryW with default security (POSIX: mode 0777 less the
  // umask). Failure: it already exists (183), its parent is missing (3), or
  // it may not be created.
  virtual Step CreateFolder(const std::string& path) = 0;
};

}  // namespace platform
