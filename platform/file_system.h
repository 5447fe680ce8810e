// Files and folders by wide-text path: creating and removing folders, and
// creating, reading, writing, closing and deleting files through handles.
//
// Relative paths are resolved against the current directory. Handles are
// opaque numbers; one stays valid until it is closed. Every failing step
// sets the thread's last error to its error number (Windows' own numbers;
// the POSIX adapter maps errno onto them, see platform/posix/errors_posix.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/last_error.h"
#include "platform/step.h"

namespace platform {

// An open file. Zero is "none".
struct FileHandle {
  std::uintptr_t value = 0;
  explicit operator bool() const { return value != 0; }
  friend bool operator==(FileHandle a, FileHandle b) { return a.value == b.value; }
  friend bool operator!=(FileHandle a, FileHandle b) { return a.value != b.value; }
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // CreateDirectoryW with default security (POSIX: mkdir with mode 0700, so
  // that only the owner may enter it, as mkdtemp makes its folders). Failure:
  // the name exists already (ERROR_ALREADY_EXISTS), the parent is missing
  // (ERROR_PATH_NOT_FOUND), or the folder may not be created.
  virtual Step CreateFolder(const std::wstring& path) = 0;

  // RemoveDirectoryW: removes an empty folder. Failure: not empty, not a
  // folder, absent, or not removable.
  virtual Step RemoveFolder(const std::wstring& path) = 0;

  // CreateFileW(GENERIC_WRITE, no sharing, no security attributes,
  // CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL): a new empty file open for
  // writing; an existing file of that name is emptied and reused (POSIX:
  // open with O_CREAT | O_TRUNC; a new file gets mode 0777 less the umask,
  // so that a program written into it can be started, an existing one keeps
  // its mode; there are no share modes).
  // Failure: the folder is missing, the name is a folder, or the file may
  // not be written (a file open elsewhere without sharing, on Windows).
  virtual StepOr<FileHandle> CreateForWriting(const std::wstring& path) = 0;

  // CreateFileW(GENERIC_READ, FILE_SHARE_READ, no security attributes,
  // OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL): an existing file open for
  // reading from its start. Failure: no such file (ERROR_FILE_NOT_FOUND),
  // no such folder, or no right to read it.
  virtual StepOr<FileHandle> OpenForReading(const std::wstring& path) = 0;

  // GetFileSize: the low 32 bits of the file's size in bytes. Failure: not
  // an open file.
  virtual StepOr<std::uint32_t> FileSize(FileHandle file) = 0;

  // WriteFile, one call: `size` bytes from `bytes` at the current position
  // (POSIX: write(2) until all are written). Failure: the call failed (disk
  // full, device error), or fewer bytes were written (then
  // ERROR_WRITE_FAULT); what reached the file is undefined.
  virtual Step Write(FileHandle file, const void* bytes, std::uint32_t size) = 0;

  // ReadFile, one call: up to `size` bytes from the current position into
  // `buffer`; gives how many were read, 0 at the end of the file. Failure:
  // the read failed; the position is then undefined.
  virtual StepOr<std::uint32_t> Read(FileHandle file, void* buffer, std::uint32_t size) = 0;

  // CloseHandle. The handle is invalid afterwards, whatever the result.
  // Failure: not an open file (ERROR_INVALID_HANDLE), or what was written
  // could not be completed.
  virtual Step Close(FileHandle file) = 0;

  // DeleteFileW: removes a file (POSIX: unlink; a folder is refused with
  // ERROR_ACCESS_DENIED as on Windows). Failure: absent, a folder, open
  // without delete sharing (Windows), or not removable.
  virtual Step RemoveFile(const std::wstring& path) = 0;
};

// Owns one open file and closes it at the end of its scope, leaving the
// thread's last error as it was.
class ScopedFile {
 public:
  explicit ScopedFile(FileSystem& files) : files_(&files) {}
  ~ScopedFile() {
    if (!file_) return;
    const ErrorNumber saved = LastError();
    files_->Close(file_);
    SetLastError(saved);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;

  FileHandle Get() const { return file_; }
  explicit operator bool() const { return static_cast<bool>(file_); }
  void Reset(FileHandle file) { file_ = file; }
  // Closes the file now and reports how the close went (success when there
  // was none); the scope closes nothing more.
  Step Close() {
    if (!file_) return Step::Success();
    const FileHandle file = file_;
    file_ = FileHandle{};
    return files_->Close(file);
  }

 private:
  FileSystem* files_;
  FileHandle file_{};
};

}  // namespace platform
