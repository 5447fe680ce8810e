// The folders the shell knows by name.
#pragma once

#include <string>

#include "platform/step.h"

namespace platform {

class ShellFolders {
 public:
  virtual ~ShellFolders() = default;
  // SHGetFolderPathW(no window, CSIDL_SYSTEM, no token, SHGFP_TYPE_CURRENT):
  // the system folder, without a final separator. Failure: the shell could
  // not name it; the error number is the call's result. POSIX: the fixed
  // system configuration folder, "/etc" unless the adapter was built with
  // another one; never fails.
  virtual StepOr<std::wstring> SystemFolder() = 0;
  // SHGetFolderPathW(no window, CSIDL_APPDATA, no token, SHGFP_TYPE_CURRENT):
  // the current user's application-data folder, without a final separator.
  // Failure as above. POSIX: the user's data folder ($XDG_DATA_HOME when it
  // is an absolute path, else ~/.local/share); fails when the user has no
  // home folder.
  virtual StepOr<std::wstring> AppDataFolder() = 0;
};

}  // namespace platform
