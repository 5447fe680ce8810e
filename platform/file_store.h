// Reading a small file whole, and replacing it whole so that it holds
// either its old or its new content, never a part of either.
//
// Paths are narrow text in UTF-8; on Windows the adapter converts them to
// wide text, and a path that is not valid UTF-8 fails with
// ERROR_NO_UNICODE_TRANSLATION.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/step.h"

namespace platform {

// A file open for reading; closed when destroyed.
class FileReader {
 public:
  virtual ~FileReader() = default;
  // ReadFile: up to `size` bytes from the current position into `buffer`.
  // A value of 0 means the end of the file. Failure: the read failed (the
  // thread's last error is set); the position is then undefined.
  virtual StepOr<std::size_t> Read(void* buffer, std::size_t size) = 0;
};

// A new file open for writing. Destroying it without FlushAndClose closes
// it as it stands; the file stays on disk for the caller to delete.
class FileWriter {
 public:
  virtual ~FileWriter() = default;
  // WriteFile: all `size` bytes at the current position. Failure: not all
  // bytes were written (disk full, device error); the file's content is
  // then undefined.
  virtual Step Write(const void* bytes, std::size_t size) = 0;
  // FlushFileBuffers, then CloseHandle (POSIX: fsync, then close): the
  // bytes written are on the disk when this succeeds. Failure of either
  // step; the file is closed in every case and no further call is allowed.
  virtual Step FlushAndClose() = 0;
};

// A file created beside another: its writer and its own path.
struct NewFile {
  std::unique_ptr<FileWriter> writer;
  std::string path;
};

class FileStore {
 public:
  virtual ~FileStore() = default;
  // CreateFileW(GENERIC_READ, share read, write and delete, OPEN_EXISTING):
  // opens an existing file for reading from its start. Failure: no such
  // file, no such folder, a folder, or no right to read it; the error number
  // says which.
  virtual StepOr<std::unique_ptr<FileReader>> OpenForReading(const std::string& path) = 0;
  // CreateFileW(GENERIC_WRITE, no sharing, CREATE_NEW) of a file with a new
  // unique name in the folder of `target` (the target's name, a dot, a
  // number unique to this process and call, ".tmp"), empty and open for
  // writing. POSIX: created with the access mode and owner of `target` when
  // it exists. `target` itself is not touched and need not exist. Failure:
  // the folder does not exist or refuses a new file; no folder is created.
  virtual StepOr<NewFile> CreateBeside(const std::string& target) = 0;
  // MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH): `from`
  // takes the name `target` in one step, replacing the file of that name if
  // there is one; when this returns, the change survives a crash. POSIX:
  // rename, then fsync of the folder. Both files are in the same folder.
  // Failure: nothing was renamed; `target` is unchanged. A target that
  // exists and may not be written fails with access denied, on every
  // platform.
  virtual Step Replace(const std::string& from, const std::string& target) = 0;
  // DeleteFileW. Failure: the file is still there, or was never there.
  virtual Step Delete(const std::string& path) = 0;
};

}  // namespace platform
