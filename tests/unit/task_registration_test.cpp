// Registration and removal of the scheduled task with the schedule state:
// the scheduler version rule, the initialisation and clearing chains, the
// deletion through both generations, and the two options.
#include "task/task_registration.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "platform/registry.h"
#include "platform/seam.h"
#include "service/service_controller.h"
#include "tests/fakes/fake_os_version.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_task_platform.h"
#include "tests/fakes/log_capture.h"
#include "tests/support/registry_cases.h"
#include "update/schedule_state.h"

namespace {

using Messages = std::vector<std::wstring>;
using Trace = std::vector<std::string>;
using platform::registry_type::kDword;
using platform::registry_type::kQword;

constexpr platform::ErrorNumber kStepError = 1450;
constexpr platform::ErrorNumber kAfterUninitialize = 4242;
const wchar_t kName[] = L"Orrin Vexel Player Updater";
const std::wstring kPath = L"C:\\Program Files\\Orrin Vexel\\VexelPlayerUpdateService.exe";

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "; ";
  return out;
}

std::wstring Line(int code, platform::ErrorNumber error) { return std::to_wstring(code) + L" " + std::to_wstring(error); }

// Windows XP (5.1) drives version 1, Windows 7 (6.1) version 2.
constexpr platform::OsVersion kWindowsXp{2, 5, 1};
constexpr platform::OsVersion kWindows7{2, 6, 1};

class TaskRegistrationTest : public ::testing::Test {
 protected:
  TaskRegistrationTest() { fake.com.lastErrorAfterUninitialize = kAfterUninitialize; }

  void PlantScheduleValues() {
    registry.Plant(ScheduleKey, kUpdateAttemptsValue, kDword, Le32(6));
    registry.Plant(ScheduleKey, kLastUpdateCheckValue, kQword, Le64(130000000000000000ULL));
    registry.Plant(ScheduleKey, kCheckFrequencyValue, kDword, Le32(3));
  }
  std::optional<std::string> Stored(const wchar_t* name) {
    auto v = registry.Stored(ScheduleKey, name);
    return v ? std::optional<std::string>(v->bytes) : std::nullopt;
  }
  void PlantTasks() {
    fake.v1.workItems[kName] = FakeV1WorkItem{};
    fake.v2.tasks[kName] = FakeV2Registration{};
  }
  void ExpectCleanEnd() {
    EXPECT_EQ(fake.com.LiveInterfaces(), 0) << fake.com.LiveKinds();
    EXPECT_EQ(fake.com.Initialisations(), 0);
    EXPECT_TRUE(fake.com.violations.empty()) << Joined(fake.com.violations);
  }

  LogCapture log;
  FakeTaskPlatform fake;
  FakeRegistry registry;
  FakeOsVersionQuery os;
  ServiceController controller{kPath, kServiceName, kServiceDisplayName};

 private:
  platform::ScopedSeam<platform::Registry> registrySeam_{&registry};
  platform::ScopedSeam<platform::OsVersionQuery> osSeam_{&os};
};

TEST_F(TaskRegistrationTest, VersionTwoOnlyOnTheNtPlatformFromVistaOn) {
  struct Row {
    std::uint32_t platformId, major;
    SchedulerVersion version;
  } rows[] = {
      {2, 4, SchedulerVersion::kVersion1},  {2, 5, SchedulerVersion::kVersion1},
      {2, 6, SchedulerVersion::kVersion2},  {2, 10, SchedulerVersion::kVersion2},
      {1, 4, SchedulerVersion::kVersion1},  {1, 6, SchedulerVersion::kVersion1},
      {0, 10, SchedulerVersion::kVersion1},
  };
  for (const Row& row : rows) {
    os.version = platform::OsVersion{row.platformId, row.major, 0};
    const int before = os.queries;
    EXPECT_EQ(CurrentSchedulerVersion(), row.version) << row.platformId << " " << row.major;
    EXPECT_EQ(os.queries, before + 1);
  }
}

TEST_F(TaskRegistrationTest, CreateDefaultTaskUsesTheGenerationOfTheWindowsVersion) {
  os.version = kWindowsXp;
  EXPECT_TRUE(CreateDefaultTask(controller));
  EXPECT_EQ(fake.v1.workItems.count(kName), 1u);
  EXPECT_EQ(fake.v1.workItems[kName].application, kPath);
  EXPECT_TRUE(fake.v2.tasks.empty());

  os.version = kWindows7;
  fake.v1.workItems.clear();
  EXPECT_TRUE(CreateDefaultTask(controller));
  EXPECT_TRUE(fake.v1.workItems.empty());
  ASSERT_EQ(fake.v2.tasks.count(kName), 1u);
  EXPECT_EQ(fake.v2.tasks[kName].definition.actions.at(0).path, kPath);
  EXPECT_EQ(log.Messages(), (Messages{L"1625", L"1627"}));
  ExpectCleanEnd();
}

TEST_F(TaskRegistrationTest, ACreatorKeepsTheVersionItWasMadeWith) {
  os.version = kWindows7;
  ScheduledTaskCreator creator(kPath);
  EXPECT_EQ(creator.Version(), SchedulerVersion::kVersion2);
  os.version = kWindowsXp;
  EXPECT_TRUE(creator.Create());
  EXPECT_EQ(fake.v2.tasks.count(kName), 1u);
  EXPECT_TRUE(fake.v1.workItems.empty());
}

TEST_F(TaskRegistrationTest, InitialisationChainStopsAtTheFirstFailedWrite) {
  struct Row {
    const char* label;
    const char* failingStep;
    const wchar_t* target;
    bool attempts, lastCheck, frequency;  // which values the run writes
  } rows[] = {
      {"all written", nullptr, L"", true, true, true},
      {"key cannot be written", "RegCreateKeyExW", L"", false, false, false},
      {"UpdateAttempts fails", "RegSetValueExW", L"UpdateAttempts", false, false, false},
      {"LastUpdateCheck fails", "RegSetValueExW", L"LastUpdateCheck", true, false, false},
      {"CheckFrequency fails", "RegSetValueExW", L"CheckFrequency", true, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    LogCapture rowLog;
    FakeRegistry rowRegistry;
    platform::ScopedSeam<platform::Registry> seam(&rowRegistry);
    FakeTaskPlatform rowFake;
    rowRegistry.Plant(ScheduleKey, kUpdateAttemptsValue, kDword, Le32(6));
    rowRegistry.Plant(ScheduleKey, kLastUpdateCheckValue, kQword, Le64(130000000000000000ULL));
    rowRegistry.Plant(ScheduleKey, kCheckFrequencyValue, kDword, Le32(3));
    if (row.failingStep != nullptr) rowRegistry.FailNext(row.failingStep, platform::error::kAccessDenied, row.target);

    // The task is created whatever the writes gave, and decides the result.
    EXPECT_TRUE(CreateDefaultTask(controller));
    EXPECT_EQ(rowFake.v2.tasks.count(kName), 1u);
    EXPECT_EQ(rowLog.Messages(), Messages{L"1627"});  // failed writes are silent

    EXPECT_EQ(rowRegistry.Stored(ScheduleKey, kUpdateAttemptsValue)->bytes, row.attempts ? Le32(0) : Le32(6));
    EXPECT_EQ(rowRegistry.Stored(ScheduleKey, kLastUpdateCheckValue)->bytes,
              row.lastCheck ? Le64(0) : Le64(130000000000000000ULL));
    EXPECT_EQ(rowRegistry.Stored(ScheduleKey, kCheckFrequencyValue)->bytes, row.frequency ? Le32(1) : Le32(3));
  }
}

TEST_F(TaskRegistrationTest, CreateDefaultTaskReportsTheTaskCreationsResult) {
  fake.com.Fail("CoInitializeEx", platform::com::kChangedMode, kStepError);
  EXPECT_FALSE(CreateDefaultTask(controller));
  EXPECT_EQ(log.Messages(), Messages{Line(1258, kStepError)});
  // The state is initialised all the same.
  EXPECT_EQ(Stored(kUpdateAttemptsValue), Le32(0));
  EXPECT_EQ(Stored(kLastUpdateCheckValue), Le64(0));
  EXPECT_EQ(Stored(kCheckFrequencyValue), Le32(1));
}

TEST_F(TaskRegistrationTest, ClearingChainStopsAtTheFirstValueThatCannotBeDeleted) {
  struct Row {
    const char* label;
    bool key, attempts, lastCheck, frequency;  // what exists before
    bool attemptsAfter, lastCheckAfter, frequencyAfter;
  } rows[] = {
      {"all three", true, true, true, true, false, false, false},
      {"UpdateAttempts missing", true, false, true, true, false, true, true},
      {"LastUpdateCheck missing", true, true, false, true, false, false, true},
      {"CheckFrequency missing", true, true, true, false, false, false, false},
      {"no key", false, false, false, false, false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    LogCapture rowLog;
    FakeRegistry rowRegistry;
    platform::ScopedSeam<platform::Registry> seam(&rowRegistry);
    FakeTaskPlatform rowFake;
    rowFake.v2.tasks[kName] = FakeV2Registration{};
    if (row.key) rowRegistry.PlantKey(ScheduleKey);
    if (row.attempts) rowRegistry.Plant(ScheduleKey, kUpdateAttemptsValue, kDword, Le32(6));
    if (row.lastCheck) rowRegistry.Plant(ScheduleKey, kLastUpdateCheckValue, kQword, Le64(5));
    if (row.frequency) rowRegistry.Plant(ScheduleKey, kCheckFrequencyValue, kDword, Le32(2));

    DeleteScheduledTask();

    EXPECT_EQ(rowRegistry.Stored(ScheduleKey, kUpdateAttemptsValue).has_value(), row.attemptsAfter);
    EXPECT_EQ(rowRegistry.Stored(ScheduleKey, kLastUpdateCheckValue).has_value(), row.lastCheckAfter);
    EXPECT_EQ(rowRegistry.Stored(ScheduleKey, kCheckFrequencyValue).has_value(), row.frequencyAfter);
    EXPECT_EQ(rowRegistry.HasKey(ScheduleKey), row.key);
    // The task goes whatever the chain gave, and nothing is logged.
    EXPECT_TRUE(rowFake.v2.tasks.empty());
    EXPECT_TRUE(rowLog.Messages().empty());
  }
}

TEST_F(TaskRegistrationTest, DeleteScheduledTaskUsesTheGenerationOfTheWindowsVersion) {
  PlantTasks();
  os.version = kWindowsXp;
  DeleteScheduledTask();
  EXPECT_TRUE(fake.v1.workItems.empty());
  EXPECT_EQ(fake.v2.tasks.size(), 1u);

  PlantTasks();
  os.version = kWindows7;
  DeleteScheduledTask();
  EXPECT_EQ(fake.v1.workItems.size(), 1u);
  EXPECT_TRUE(fake.v2.tasks.empty());
  EXPECT_TRUE(log.Messages().empty());
  ExpectCleanEnd();
}

TEST_F(TaskRegistrationTest, DeletingATaskThatDoesNotExistIsSilent) {
  for (platform::OsVersion version : {kWindowsXp, kWindows7}) {
    os.version = version;
    DeleteScheduledTask();
  }
  EXPECT_TRUE(log.Messages().empty());
  ExpectCleanEnd();
}

TEST_F(TaskRegistrationTest, DeleteTaskV1FailuresAndWhenTheirNumberIsRead) {
  struct Row {
    const char* step;
    std::wstring message;
  } rows[] = {
      {"CoInitialize", Line(1294, kStepError)},
      {"CoCreateInstance(CTaskScheduler)", Line(1293, kAfterUninitialize)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    LogCapture rowLog;
    FakeTaskPlatform rowFake;
    rowFake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    rowFake.v1.workItems[kName] = FakeV1WorkItem{};
    rowFake.com.Fail(row.step, platform::com::kFail, kStepError);
    DeleteTaskV1();
    EXPECT_EQ(rowLog.Messages(), Messages{row.message});
    EXPECT_EQ(rowFake.v1.workItems.size(), 1u);
    EXPECT_EQ(rowFake.com.LiveInterfaces(), 0);
    EXPECT_EQ(rowFake.com.Initialisations(), 0);
    EXPECT_TRUE(rowFake.com.violations.empty()) << Joined(rowFake.com.violations);
  }
}

TEST_F(TaskRegistrationTest, DeleteTaskV1ReleasesTheSchedulerBeforeUninitialising) {
  fake.v1.workItems[kName] = FakeV1WorkItem{};
  DeleteTaskV1();
  EXPECT_TRUE(fake.v1.workItems.empty());
  EXPECT_EQ(fake.com.trace, (Trace{"CoInitialize", "CoCreateInstance(CTaskScheduler)", "+ITaskScheduler",
                                   "ITaskScheduler::Delete", "-ITaskScheduler", "CoUninitialize"}));
  ExpectCleanEnd();
}

TEST_F(TaskRegistrationTest, DeleteTaskV2FailuresAreLoggedBeforeTheReleases) {
  struct Row {
    const char* step;
    int code;
  } rows[] = {
      {"CoInitializeEx", 1295},
      {"CoInitializeSecurity", 1296},
      {"CoCreateInstance(TaskScheduler)", 1297},
      {"ITaskService::Connect", 1298},
      {"ITaskService::GetFolder", 1299},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    LogCapture rowLog;
    FakeTaskPlatform rowFake;
    rowFake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    rowFake.v2.tasks[kName] = FakeV2Registration{};
    rowFake.com.Fail(row.step, platform::com::kFail, kStepError);
    DeleteTaskV2();
    EXPECT_EQ(rowLog.Messages(), Messages{Line(row.code, kStepError)});
    EXPECT_EQ(rowFake.v2.tasks.size(), 1u);
    EXPECT_EQ(rowFake.com.LiveInterfaces(), 0) << rowFake.com.LiveKinds();
    EXPECT_EQ(rowFake.com.Initialisations(), 0);
    EXPECT_TRUE(rowFake.com.violations.empty()) << Joined(rowFake.com.violations);
  }
}

TEST_F(TaskRegistrationTest, DeleteTaskV2ConnectsAndDeletesFromTheRootFolder) {
  fake.v2.tasks[kName] = FakeV2Registration{};
  DeleteTaskV2();
  EXPECT_TRUE(fake.v2.tasks.empty());
  EXPECT_EQ(fake.com.securityAuthenticationLevel, 6u);
  EXPECT_EQ(fake.com.securityImpersonationLevel, 3u);
  EXPECT_EQ(fake.com.TraceOf({"ITaskFolder::DeleteTask"}),
            (Trace{"ITaskFolder::DeleteTask", "-ITaskFolder", "-ITaskService", "CoUninitialize"}));
  ExpectCleanEnd();
}

TEST_F(TaskRegistrationTest, TheOptionsCreateAndDeleteTheTask) {
  EXPECT_EQ(FindCommand(L"-createdefaulttask"), nullptr);
  EXPECT_EQ(FindCommand(L"/deleteTask"), nullptr);
  EXPECT_EQ(FindCommand(L"deleteTask"), nullptr);

  CommandOperation create = FindCommand(L"-createDefaultTask");
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(create(controller), 0);
  ASSERT_EQ(fake.v2.tasks.count(kName), 1u);
  EXPECT_EQ(fake.v2.tasks[kName].definition.actions.at(0).path, kPath);
  EXPECT_EQ(Stored(kCheckFrequencyValue), Le32(1));

  CommandOperation remove = FindCommand(L"-deleteTask");
  ASSERT_NE(remove, nullptr);
  EXPECT_EQ(remove(controller), 0);
  EXPECT_TRUE(fake.v2.tasks.empty());
  EXPECT_FALSE(Stored(kUpdateAttemptsValue).has_value());
  EXPECT_FALSE(Stored(kCheckFrequencyValue).has_value());
  // A failed run ends with exit code 0 all the same.
  fake.com.Fail("CoInitializeEx", platform::com::kChangedMode, kStepError);
  EXPECT_EQ(create(controller), 0);
  EXPECT_EQ(remove(controller), 0);
  ExpectCleanEnd();
}

}  // namespace
