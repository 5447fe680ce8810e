#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/file_tree.h"
#include "platform/last_error.h"
#include "platform/posix/errors_posix.h"
#include "platform/seam.h"

namespace platform {
namespace {

// Seconds between 1601-01-01 and 1970-01-01, the offset of file times.
constexpr std::int64_t kEpochDifferenceSeconds = 11644473600LL;

std::uint64_t FileTimeOf(const timespec& t) {
  const std::int64_t seconds = static_cast<std::int64_t>(t.tv_sec) + kEpochDifferenceSeconds;
  if (seconds < 0) return 0;
  return static_cast<std::uint64_t>(seconds) * 10000000ULL + static_cast<std::uint64_t>(t.tv_nsec) / 100;
}

PathInfo InfoOf(const struct stat& st) {
  PathInfo info;
  info.isLink = S_ISLNK(st.st_mode);
  info.isFolder = S_ISDIR(st.st_mode);
  info.size = S_ISREG(st.st_mode) || info.isLink ? static_cast<std::uint64_t>(st.st_size) : 0;
  info.lastWriteTime = FileTimeOf(st.st_mtim);
  return info;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// Removes `path` and, for a folder, everything in it first; links are
// removed, never followed. 0 or the error of the first failure.
ErrorNumber RemoveRecursively(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return posix::ErrnoToError(errno);
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0 ? 0 : posix::ErrnoToError(errno);
  {
    UniqueDir dir(::opendir(path.c_str()));
    if (!dir) return posix::ErrnoToError(errno);
    while (dirent* e = ::readdir(dir.get())) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const ErrorNumber inner = RemoveRecursively(path + "/" + name);
      if (inner != 0) return inner;
    }
  }
  return ::rmdir(path.c_str()) == 0 ? 0 : posix::ErrnoToError(errno);
}

class PosixFileTree final : public FileTree {
 public:
  std::uint32_t ShellDelete(const std::string& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return error::kFileNotFound;
    const ErrorNumber result = RemoveRecursively(path);
    if (result != 0) SetLastError(result);
    return result;
  }

  StepOr<std::vector<FolderEntry>> ListFolder(const std::string& folder) override {
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) return StepOr<std::vector<FolderEntry>>::Failure(posix::FailFromErrno().error);
    std::vector<FolderEntry> entries;
    while (dirent* e = ::readdir(dir.get())) {
      FolderEntry entry;
      entry.name = e->d_name;
      struct stat st {};
      if (::lstat((folder + "/" + entry.name).c_str(), &st) == 0) {
        const PathInfo info = InfoOf(st);
        entry.isFolder = info.isFolder;
        entry.isLink = info.isLink;
        entry.size = info.size;
        entry.lastWriteTime = info.lastWriteTime;
      }
      entries.push_back(std::move(entry));
    }
    return StepOr<std::vector<FolderEntry>>::Success(std::move(entries));
  }

  StepOr<PathInfo> Examine(const std::string& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return StepOr<PathInfo>::Failure(posix::FailFromErrno().error);
    return StepOr<PathInfo>::Success(InfoOf(st));
  }

  Step DeleteFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return posix::FailFromErrno();
    return Step::Success();
  }

  Step RemoveFolder(const std::string& path) override {
    if (::rmdir(path.c_str()) != 0) return posix::FailFromErrno();
    return Step::Success();
  }

  Step CreateFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) return posix::FailFromErrno();
    return Step::Success();
  }
};

}  // namespace

template <>
FileTree& PlatformDefault<FileTree>() {
  static PosixFileTree tree;
  return tree;
}

}  // namespace platform
