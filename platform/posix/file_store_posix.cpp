#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/file_store.h"
#include "platform/last_error.h"
#include "platform/posix/errors_posix.h"
#include "platform/seam.h"

namespace platform {
namespace {

// The folder part of a path, "." for a bare name.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

class PosixFileReader final : public FileReader {
 public:
  explicit PosixFileReader(int fd) : fd_(fd) {}
  ~PosixFileReader() override { ::close(fd_); }
  StepOr<std::size_t> Read(void* buffer, std::size_t size) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return StepOr<std::size_t>::Success(static_cast<std::size_t>(n));
      if (errno == EINTR) continue;
      return StepOr<std::size_t>::Failure(posix::FailFromErrno().error);
    }
  }

 private:
  int fd_;
};

class PosixFileWriter final : public FileWriter {
 public:
  explicit PosixFileWriter(int fd) : fd_(fd) {}
  ~PosixFileWriter() override {
    if (fd_ >= 0) ::close(fd_);
  }
  Step Write(const void* bytes, std::size_t size) override {
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
      ssize_t n = ::write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = ENOSPC;
        return posix::FailFromErrno();
      }
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return Step::Success();
  }
  Step FlushAndClose() override {
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
      Step failure = posix::FailFromErrno();
      ::close(fd);
      return failure;
    }
    if (::close(fd) != 0) return posix::FailFromErrno();
    return Step::Success();
  }

 private:
  int fd_;
};

class PosixFileStore final : public FileStore {
 public:
  StepOr<std::unique_ptr<FileReader>> OpenForReading(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return StepOr<std::unique_ptr<FileReader>>::Failure(posix::FailFromErrno().error);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      SetLastError(error::kAccessDenied);  // what CreateFileW says of a folder
      return StepOr<std::unique_ptr<FileReader>>::Failure(error::kAccessDenied);
    }
    return StepOr<std::unique_ptr<FileReader>>::Success(std::make_unique<PosixFileReader>(fd));
  }

  StepOr<NewFile> CreateBeside(const std::string& target) override {
    struct stat existing {};
    const bool targetExists = ::stat(target.c_str(), &existing) == 0;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return StepOr<NewFile>::Failure(posix::FailFromErrno().error);
      }
      if (targetExists) {
        // The new file takes the place of the old one: give it the old one's
        // access mode and, where allowed, its owner.
        // Only a privileged process may give a file away; when it may not,
        // the caller's own ownership stands, and so does the umask's mode.
        if (::fchown(fd, existing.st_uid, existing.st_gid) == 0 || existing.st_uid == ::geteuid()) {
          if (::fchmod(fd, existing.st_mode & 07777) != 0) {
            // The mode of a new file is the umask's; nothing is lost.
          }
        }
      }
      return StepOr<NewFile>::Success(NewFile{std::make_unique<PosixFileWriter>(fd), std::move(path)});
    }
    SetLastError(error::kFileExists);
    return StepOr<NewFile>::Failure(error::kFileExists);
  }

  Step Replace(const std::string& from, const std::string& target) override {
    // A file that may not be written is not replaced, as on Windows.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
      return posix::FailFromErrno();
    }
    if (::rename(from.c_str(), target.c_str()) != 0) return posix::FailFromErrno();
    // The rename is in the folder's own data: flush it too. Some file systems
    // refuse fsync on a folder; the rename stands all the same.
    int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      (void)::fsync(folder);
      ::close(folder);
    }
    return Step::Success();
  }

  Step Delete(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return posix::FailFromErrno();
    return Step::Success();
  }
};

}  // namespace

template <>
FileStore& PlatformDefault<FileStore>() {
  static PosixFileStore store;
  return store;
}

}  // namespace platform
