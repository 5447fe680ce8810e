// The platform of a whole run of the program, faked: the expansion of the
// program's path, the service control manager with its dispatcher, the
// operating system version, the system folder ("/sys", no configuration file
// unless a test adds one to `store`) and the file store. The process-wide
// settings and the cached configuration path are restored afterwards.
#pragma once

#include "config/config_file.h"
#include "config/update_settings.h"
#include "platform/seam.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_os_version.h"
#include "tests/fakes/fake_process_paths.h"
#include "tests/fakes/fake_service_control.h"
#include "tests/fakes/fake_shell_folders.h"

class FakeProgramPlatform {
 public:
  FakeProgramPlatform() : savedSettings_(UpdateSettings) {
    UpdateSettings = UpdateSettingsRecord{};
    folders.systemFolder = L"/sys";
    ForgetConfigFilePath();
  }
  ~FakeProgramPlatform() {
    ForgetConfigFilePath();
    UpdateSettings = savedSettings_;
  }
  FakeProgramPlatform(const FakeProgramPlatform&) = delete;
  FakeProgramPlatform& operator=(const FakeProgramPlatform&) = delete;

  FakeProcessPaths paths;
  FakeServiceHost host;
  FakeServiceControlManager manager;
  FakeOsVersionQuery os;
  FakeShellFolders folders;
  FakeFileStore store;

 private:
  UpdateSettingsRecord savedSettings_;
  platform::ScopedSeam<platform::ProcessPaths> pathsSeam_{&paths};
  platform::ScopedSeam<platform::ServiceHost> hostSeam_{&host};
  platform::ScopedSeam<platform::ServiceControlManager> managerSeam_{&manager};
  platform::ScopedSeam<platform::OsVersionQuery> osSeam_{&os};
  platform::ScopedSeam<platform::ShellFolders> foldersSeam_{&folders};
  platform::ScopedSeam<platform::FileStore> storeSeam_{&store};
};
