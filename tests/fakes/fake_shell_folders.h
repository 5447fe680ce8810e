// Shell folders a test names, failing or running out of memory on demand.
#pragma once

#include <new>
#include <string>

#include "platform/last_error.h"
#include "platform/shell_folders.h"

class FakeShellFolders final : public platform::ShellFolders {
 public:
  std::wstring systemFolder = L"/fake-system";
  std::wstring appDataFolder = L"/fake-appdata";
  platform::ErrorNumber failWith = 0;  // non-zero: both lookups fail with it
  bool runOutOfMemory = false;         // both lookups throw std::bad_alloc
  int calls = 0;

  platform::StepOr<std::wstring> SystemFolder() override { return Answer(systemFolder); }
  platform::StepOr<std::wstring> AppDataFolder() override { return Answer(appDataFolder); }

 private:
  platform::StepOr<std::wstring> Answer(const std::wstring& folder) {
    ++calls;
    if (runOutOfMemory) throw std::bad_alloc();
    if (failWith != 0) {
      platform::SetLastError(failWith);
      return platform::StepOr<std::wstring>::Failure(failWith);
    }
    return platform::StepOr<std::wstring>::Success(folder);
  }
};
