#include "platform/posix/shell_folders_posix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/last_error.h"
#include "platform/seam.h"
#include "support/utf16.h"

namespace platform::posix {
namespace {

// The user's home folder: $HOME, else the password database's entry.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return std::string();
}

// The XDG base directory rule for the user's data folder.
std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  std::string home = HomeFolder();
  if (home.empty()) return home;
  if (home.back() == '/') home.pop_back();
  return home + "/.local/share";
}

std::string WithoutFinalSeparator(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

PosixShellFolders::PosixShellFolders() : PosixShellFolders("/etc", std::string()) {}

PosixShellFolders::PosixShellFolders(std::string systemFolder, std::string appDataFolder)
    : systemFolder_(WithoutFinalSeparator(std::move(systemFolder))),
      appDataFolder_(WithoutFinalSeparator(std::move(appDataFolder))) {}

StepOr<std::wstring> PosixShellFolders::SystemFolder() {
  return StepOr<std::wstring>::Success(Utf8ToWideLossy(systemFolder_));
}

StepOr<std::wstring> PosixShellFolders::AppDataFolder() {
  const std::string folder = appDataFolder_.empty() ? UserDataFolder() : appDataFolder_;
  if (folder.empty()) {
    platform::SetLastError(error::kPathNotFound);
    return StepOr<std::wstring>::Failure(error::kPathNotFound);
  }
  return StepOr<std::wstring>::Success(Utf8ToWideLossy(folder));
}

}  // namespace platform::posix

namespace platform {

template <>
ShellFolders& PlatformDefault<ShellFolders>() {
  static posix::PosixShellFolders folders;
  return folders;
}

}  // namespace platform
