#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tools/logreader/reader_system.h"

namespace logreader {
namespace {

class PosixReaderSystem final : public ReaderSystem {
 public:
  // Linux has no service's log: the file is always named.
  std::string DefaultLogPath() override { return ""; }

  bool Read(const std::string& path, std::uint64_t offset, std::size_t maxBytes, std::string& out,
            std::uint64_t& fileSize, std::string& error) override {
    // POSIX files take no share locks: reading never hinders an appender.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      error = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
      ::close(fd);
      return false;
    }
    fileSize = static_cast<std::uint64_t>(st.st_size);
    std::string bytes;
    if (offset < fileSize) {
      bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, fileSize - offset)));
      std::size_t got = 0;
      while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, &bytes[got], bytes.size() - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          error = std::strerror(errno);
          ::close(fd);
          return false;
        }
        if (n == 0) break;  // the file was cut meanwhile
        got += static_cast<std::size_t>(n);
      }
      bytes.resize(got);
    }
    ::close(fd);
    out += bytes;
    return true;
  }

  void Out(const std::string& text) override { std::fwrite(text.data(), 1, text.size(), stdout); }

  void Err(const std::string& text) override {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
  }

  void Flush() override { std::fflush(stdout); }

  bool WaitForMore() override {
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return true;
  }
};

}  // namespace

std::unique_ptr<ReaderSystem> MakePlatformReaderSystem() { return std::make_unique<PosixReaderSystem>(); }

}  // namespace logreader
