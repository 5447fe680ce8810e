#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/log_file.h"
#include "platform/posix/errors_posix.h"
#include "platform/seam.h"

namespace platform {
namespace {

class PosixSharedAppendFile final : public SharedAppendFile {
 public:
  Step Append(const std::string& path, const void* bytes, std::size_t size) override {
    // O_APPEND makes each write(2) land at the end of the file as one unit;
    // POSIX files take no share locks, so no open ever blocks another.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return posix::FailFromErrno();
    const char* p = static_cast<const char*>(bytes);
    std::size_t left = size;
    while (left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Step failure = posix::FailFromErrno();
        ::close(fd);
        return failure;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return posix::FailFromErrno();
    return Step::Success();
  }
};

}  // namespace

template <>
SharedAppendFile& PlatformDefault<SharedAppendFile>() {
  static PosixSharedAppendFile file;
  return file;
}

}  // namespace platform
