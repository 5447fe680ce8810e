#include "app/service_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "app/entry.h"
#include "platform/seam.h"
#include "task/task_names.h"
#include "tests/fakes/fake_os_version.h"
#include "tests/fakes/fake_process_paths.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_service_control.h"
#include "tests/fakes/fake_task_platform.h"
#include "update/schedule_state.h"
#include "tests/fakes/log_capture.h"

namespace {

using Messages = std::vector<std::wstring>;
using Steps = std::vector<std::string>;

class ServiceCommandsTest : public ::testing::Test {
 protected:
  int Run(const wchar_t* option) {
    const wchar_t* argv[] = {L"C:\\Program Files\\Orrin\\VexelPlayerUpdateService.exe", option, nullptr};
    return RunProgram(2, argv);
  }
  // The steps that act on the service, without opening and closing.
  Steps Actions() {
    Steps actions;
    for (const std::string& step : manager_.Steps()) {
      if (step != "OpenSCManagerW" && step != "OpenServiceW" && step != "CloseServiceHandle") actions.push_back(step);
    }
    return actions;
  }
  // The lines after the three start lines of the run.
  Messages OperationMessages() {
    Messages all = log_.Messages();
    return Messages(all.begin() + std::min<std::size_t>(3, all.size()), all.end());
  }

  FakeProcessPaths paths_;
  platform::ScopedSeam<platform::ProcessPaths> pathsSeam_{&paths_};
  FakeServiceControlManager manager_;
  platform::ScopedSeam<platform::ServiceControlManager> managerSeam_{&manager_};
  // The scheduled task and its schedule state, on Windows 7 (version 2).
  FakeTaskPlatform tasks_;
  FakeRegistry registry_;
  platform::ScopedSeam<platform::Registry> registrySeam_{&registry_};
  FakeOsVersionQuery os_;
  platform::ScopedSeam<platform::OsVersionQuery> osSeam_{&os_};
  LogCapture log_{true};
};

struct UninstallCase {
  const char* situation;
  bool registered;
  bool running;
  Steps actions;
  Messages messages;
};

TEST_F(ServiceCommandsTest, UninstallStopsAndRemovesOnlyARegisteredService) {
  const UninstallCase cases[] = {
      {"not registered", false, false, {}, {}},
      {"registered and stopped", true, false, {"ControlService", "DeleteService"}, {L"1226 1062", L"1606"}},
      {"registered and running", true, true, {"ControlService", "DeleteService"}, {L"1605", L"1606"}},
  };
  for (const UninstallCase& c : cases) {
    SCOPED_TRACE(c.situation);
    FakeServiceControlManager manager;
    manager.registered = c.registered;
    manager.running = c.running;
    platform::ScopedSeam<platform::ServiceControlManager> seam(&manager);
    FakeTaskPlatform tasks;
    tasks.v2.tasks[kScheduledTaskName] = FakeV2Registration{};
    FakeRegistry registry;
    registry.Plant(ScheduleKey, kUpdateAttemptsValue, platform::registry_type::kDword, std::string(4, '\0'));
    platform::ScopedSeam<platform::Registry> registrySeam(&registry);
    LogCapture log(true);

    EXPECT_EQ(RunProgram(2, std::array<const wchar_t*, 3>{L"prog.exe", L"-uninstall", nullptr}.data()), 0);
    // The task and its schedule state go first, in every case.
    EXPECT_TRUE(tasks.v2.tasks.empty());
    EXPECT_FALSE(registry.Stored(ScheduleKey, kUpdateAttemptsValue).has_value());
    Steps actions;
    for (const std::string& step : manager.Steps()) {
      if (step != "OpenSCManagerW" && step != "OpenServiceW" && step != "CloseServiceHandle") actions.push_back(step);
    }
    EXPECT_EQ(actions, c.actions);
    const Messages all = log.Messages();
    EXPECT_EQ(Messages(all.begin() + 3, all.end()), c.messages);
    EXPECT_FALSE(manager.registered);
    EXPECT_EQ(manager.OpenHandles(), 0u);
  }
}

TEST_F(ServiceCommandsTest, UninstallWithTheManagerUnavailableLogsOnceAndGoesNoFurther) {
  manager_.failures["OpenSCManagerW"] = 5;
  EXPECT_EQ(Run(L"-uninstall"), 0);
  EXPECT_EQ(OperationMessages(), (Messages{L"1302 5"}));
}

TEST_F(ServiceCommandsTest, InstallRegistersTheRunningExecutable) {
  EXPECT_EQ(Run(L"-install"), 0);
  ASSERT_TRUE(manager_.registration.has_value());
  EXPECT_EQ(manager_.registration->binaryPathName, L"\"C:\\Program Files\\Orrin\\VexelPlayerUpdateService.exe\"");
  EXPECT_EQ(Actions(), (Steps{"CreateServiceW", "ChangeServiceConfig2W"}));
  EXPECT_EQ(OperationMessages(), (Messages{L"1603", L"1627"}));
  EXPECT_EQ(tasks_.v2.tasks.count(kScheduledTaskName), 1u);
}

TEST_F(ServiceCommandsTest, TheExitCodeIsZeroWhateverTheOperationsReturn) {
  manager_.failures["OpenSCManagerW"] = 5;
  EXPECT_EQ(Run(L"-install"), 0);
  EXPECT_EQ(OperationMessages(), (Messages{L"1302 5", L"1219 5", L"1627"}));
}

TEST_F(ServiceCommandsTest, OnlyAnOptionSpelledExactlyActs) {
  for (const wchar_t* near : {L"-Install", L"/install", L"install", L"-uninstall ", L"-UNINSTALL"}) {
    SCOPED_TRACE(std::wstring(near));
    EXPECT_EQ(Run(near), 0);
  }
  EXPECT_TRUE(manager_.calls.empty());
}

}  // namespace
