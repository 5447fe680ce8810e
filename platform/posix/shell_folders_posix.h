// The POSIX shell folders, for tests that point them at their own folders.
#pragma once

#include <string>

#include "platform/shell_folders.h"

namespace platform::posix {

class PosixShellFolders final : public ShellFolders {
 public:
  // The process's adapter: the system folder "/etc", the user's data folder.
  PosixShellFolders();
  // Folders given as UTF-8 paths; an empty `appDataFolder` stands for the
  // user's data folder.
  PosixShellFolders(std::string systemFolder, std::string appDataFolder);

  StepOr<std::wstring> SystemFolder() override;
  StepOr<std::wstring> AppDataFolder() override;

 private:
  std::string systemFolder_;
  std::string appDataFolder_;
};

}  // namespace platform::posix
