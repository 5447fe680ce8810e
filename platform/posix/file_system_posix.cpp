#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/posix/errors_posix.h"
#include "platform/seam.h"
#include "support/utf16.h"

namespace platform {
namespace {

constexpr ErrorNumber kDirectoryNotEmpty = 145;  // ERROR_DIR_NOT_EMPTY

// Handles are file descriptors plus one, so that zero stays "none".
int Descriptor(FileHandle file) { return static_cast<int>(file.value) - 1; }
FileHandle Handle(int fd) { return FileHandle{static_cast<std::uintptr_t>(fd) + 1}; }

Step FailWith(ErrorNumber error) {
  SetLastError(error);
  return Step::Failure(error);
}

// errno as Windows reports the same failure of these calls: a folder where
// a file is meant, and a folder that is not empty.
Step FailFromErrno() {
  if (errno == EISDIR) return FailWith(error::kAccessDenied);
  if (errno == ENOTEMPTY) return FailWith(kDirectoryNotEmpty);
  return posix::FailFromErrno();
}

// For the calls that make a new name: a missing name can only be a folder
// on the way to it.
Step FailFromErrnoOfNewName() {
  if (errno == ENOENT) return FailWith(error::kPathNotFound);
  return FailFromErrno();
}

template <class T>
StepOr<T> FailFromErrnoOr() {
  return StepOr<T>::Failure(FailFromErrno().error);
}

bool Usable(FileHandle file) {
  if (file && file.value <= static_cast<std::uintptr_t>(INT_MAX)) return true;
  SetLastError(error::kInvalidHandle);
  return false;
}

StepOr<FileHandle> Open(const std::wstring& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(WideToUtf8(path).c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const Step failure = (flags & O_CREAT) != 0 ? FailFromErrnoOfNewName() : FailFromErrno();
    return StepOr<FileHandle>::Failure(failure.error);
  }
  return StepOr<FileHandle>::Success(Handle(fd));
}

class PosixFileSystem final : public FileSystem {
 public:
  Step CreateFolder(const std::wstring& path) override {
    if (::mkdir(WideToUtf8(path).c_str(), 0700) != 0) return FailFromErrnoOfNewName();
    return Step::Success();
  }

  Step RemoveFolder(const std::wstring& path) override {
    if (::rmdir(WideToUtf8(path).c_str()) != 0) return FailFromErrno();
    return Step::Success();
  }

  StepOr<FileHandle> CreateForWriting(const std::wstring& path) override {
    return Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0777);
  }

  StepOr<FileHandle> OpenForReading(const std::wstring& path) override {
    StepOr<FileHandle> opened = Open(path, O_RDONLY, 0);
    if (!opened) return opened;
    // Windows opens no folder for reading as a file.
    struct stat info {};
    if (::fstat(Descriptor(opened.value), &info) == 0 && S_ISDIR(info.st_mode)) {
      ::close(Descriptor(opened.value));
      return StepOr<FileHandle>::Failure(FailWith(error::kAccessDenied).error);
    }
    return opened;
  }

  StepOr<std::uint32_t> FileSize(FileHandle file) override {
    if (!Usable(file)) return StepOr<std::uint32_t>::Failure(error::kInvalidHandle);
    struct stat info {};
    if (::fstat(Descriptor(file), &info) != 0) return FailFromErrnoOr<std::uint32_t>();
    return StepOr<std::uint32_t>::Success(static_cast<std::uint32_t>(static_cast<std::uint64_t>(info.st_size)));
  }

  Step Write(FileHandle file, const void* bytes, std::uint32_t size) override {
    if (!Usable(file)) return Step::Failure(error::kInvalidHandle);
    const char* p = static_cast<const char*>(bytes);
    std::size_t left = size;
    while (left > 0) {
      const ssize_t n = ::write(Descriptor(file), p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return FailFromErrno();
      if (n == 0) return FailWith(error::kWriteFault);
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return Step::Success();
  }

  StepOr<std::uint32_t> Read(FileHandle file, void* buffer, std::uint32_t size) override {
    if (!Usable(file)) return StepOr<std::uint32_t>::Failure(error::kInvalidHandle);
    ssize_t n;
    do {
      n = ::read(Descriptor(file), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return FailFromErrnoOr<std::uint32_t>();
    return StepOr<std::uint32_t>::Success(static_cast<std::uint32_t>(n));
  }

  Step Close(FileHandle file) override {
    if (!Usable(file)) return Step::Failure(error::kInvalidHandle);
    // The descriptor is released even when close reports an error.
    if (::close(Descriptor(file)) != 0 && errno != EINTR) return FailFromErrno();
    return Step::Success();
  }

  Step RemoveFile(const std::wstring& path) override {
    if (::unlink(WideToUtf8(path).c_str()) != 0) return FailFromErrno();
    return Step::Success();
  }
};

}  // namespace

template <>
FileSystem& PlatformDefault<FileSystem>() {
  static PosixFileSystem files;
  return files;
}

}  // namespace platform
