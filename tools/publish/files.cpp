#include "tools/publish/files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "tools/publish/failure.h"

namespace publish {
namespace {

std::string Reason(int error) { return std::strerror(error); }

// The temporary files that exist at this moment, for the handler of the
// signals that end the program (Ctrl-C, a termination, a lost terminal): it
// removes them, then lets the signal end the process as it would have.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kMaxTemporaries = 16;
constexpr std::size_t kMaxTemporaryPath = 4096;
char temporaryPaths[kMaxTemporaries][kMaxTemporaryPath];
volatile sig_atomic_t temporaryInUse[kMaxTemporaries];

void RemoveTemporariesAndStop(int signal) {
  for (std::size_t i = 0; i < kMaxTemporaries; ++i) {
    if (temporaryInUse[i]) ::unlink(temporaryPaths[i]);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Blocks the stop signals while a temporary file is made and registered,
// so that none is made without the handler knowing it.
class StopSignalsHeld {
 public:
  StopSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : kStopSignals) sigaddset(&held, s);
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~StopSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// The slot the handler removes `path` from, or -1 when every slot is taken
// (the file is then removed on every other way out, just not on a signal).
int RegisterTemporary(const std::string& path) {
  static const bool installed = [] {
    for (int s : kStopSignals) {
      struct sigaction action {};
      action.sa_handler = &RemoveTemporariesAndStop;
      sigemptyset(&action.sa_mask);
      // A signal the program was started to ignore stays ignored.
      struct sigaction current {};
      if (::sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
      ::sigaction(s, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
  if (path.size() >= kMaxTemporaryPath) return -1;
  for (std::size_t i = 0; i < kMaxTemporaries; ++i) {
    if (temporaryInUse[i]) continue;
    std::memcpy(temporaryPaths[i], path.c_str(), path.size() + 1);
    temporaryInUse[i] = 1;
    return static_cast<int>(i);
  }
  return -1;
}

void ForgetTemporary(int slot) {
  if (slot >= 0) temporaryInUse[slot] = 0;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now; false (errno set) when the close reports an error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

int OpenForReading(const std::string& path, const std::string& what) {
  if (path == "-") return ::dup(STDIN_FILENO);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure("cannot read " + what + " " + path + ": " + Reason(errno));
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    throw Failure("cannot read " + what + " " + path + ": it is a folder");
  }
  return fd;
}

// Reads into `out` until the end or until it holds `limit` bytes; true when
// the end was reached.
bool ReadInto(int fd, const std::string& path, const std::string& what, std::size_t limit, std::string& out) {
  char buffer[65536];
  while (out.size() < limit) {
    const std::size_t want = std::min(sizeof buffer, limit - out.size());
    const ssize_t n = ::read(fd, buffer, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure("cannot read " + what + " " + path + ": " + Reason(errno));
    }
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return false;
}

// False (errno set) when a write fails.
bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(077);
  ::umask(mask);
  return mask;
}

// Gives `temporary` the name `path` without replacing anything there.
// False with errno when it cannot; EEXIST when the name is taken.
bool MoveToFreeName(const std::string& temporary, const std::string& path) {
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: a hard link refuses an
  // existing name as well.
  if (::link(temporary.c_str(), path.c_str()) != 0) return false;
  ::unlink(temporary.c_str());
  return true;
}

void SyncFolder(const std::string& path) {
  const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string ReadWholeFile(const std::string& path, const std::string& what) {
  Descriptor fd(OpenForReading(path, what));
  std::string bytes;
  ReadInto(fd.Get(), path, what, static_cast<std::size_t>(-1), bytes);
  return bytes;
}

std::string ReadFileStart(const std::string& path, const std::string& what, std::size_t limit, bool& more) {
  Descriptor fd(OpenForReading(path, what));
  std::string bytes;
  more = false;
  if (!ReadInto(fd.Get(), path, what, limit, bytes)) {
    char probe;
    ssize_t n;
    do {
      n = ::read(fd.Get(), &probe, 1);
    } while (n < 0 && errno == EINTR);
    more = n > 0;
  }
  return bytes;
}

bool PathExists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

OutputFiles::~OutputFiles() {
  for (const Staged& s : staged_) {
    if (!s.temporary.empty()) ::unlink(s.temporary.c_str());
    ForgetTemporary(s.slot);
  }
}

void OutputFiles::Expect(const std::string& path, const std::string& what) const {
  if (path.empty()) throw Failure("no file name given for " + what);
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) throw Failure("cannot write " + what + " " + path + ": it is a folder");
    if (!force_) throw Failure(what + " " + path + " exists already (give --force to replace it)");
  } else if (PathExists(path) && !force_) {
    throw Failure(what + " " + path + " exists already (give --force to replace it)");
  }
  const std::string folder = FolderOf(path);
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    throw Failure("cannot write " + what + " " + path + ": its folder " + folder + " does not exist");
  }
  for (const Staged& s : staged_) {
    if (s.path == path) throw Failure(what + " and " + s.what + " are the same file " + path);
  }
}

void OutputFiles::Stage(const std::string& path, const std::string& what, const std::string& bytes, mode_t mode,
                        bool exactMode) {
  Expect(path, what);
  std::string pattern = FolderOf(path) + "/." + NameOf(path) + ".partial-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkstemp creates the file for the owner alone; the final permissions are
  // set before the first byte is written.
  int created;
  {
    StopSignalsHeld held;
    created = ::mkostemp(name.data(), O_CLOEXEC);
    if (created < 0) throw Failure("cannot write " + what + " " + path + ": " + Reason(errno));
    staged_.push_back(Staged{path, what, name.data(), RegisterTemporary(name.data())});
  }
  Descriptor fd(created);
  const mode_t wanted = exactMode ? mode : (mode & ~CurrentUmask());
  const bool written =
      ::fchmod(fd.Get(), wanted) == 0 && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0 && fd.Close();
  if (!written) throw Failure("cannot write " + what + " " + path + ": " + Reason(errno));
}

void OutputFiles::Commit() {
  std::vector<std::string> placed;  // destinations that were free before
  for (Staged& s : staged_) {
    bool moved;
    if (force_) {
      moved = ::rename(s.temporary.c_str(), s.path.c_str()) == 0;
    } else {
      moved = MoveToFreeName(s.temporary, s.path);
      if (moved) placed.push_back(s.path);
    }
    if (!moved) {
      const int error = errno;
      for (const std::string& p : placed) ::unlink(p.c_str());
      if (error == EEXIST) throw Failure(s.what + " " + s.path + " exists already (give --force to replace it)");
      throw Failure("cannot write " + s.what + " " + s.path + ": " + Reason(error));
    }
    s.temporary.clear();
    ForgetTemporary(s.slot);
    s.slot = -1;
    SyncFolder(s.path);
  }
}

}  // namespace publish
