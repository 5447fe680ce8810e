// The task through the Task Scheduler 2.0 interfaces, on the fake scheduler:
// every step failing in turn, what is logged, whether the run stops or goes
// on, and that every interface is released before COM is uninitialised.
#include "task/task_definition_v2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "tests/fakes/fake_task_platform.h"
#include "tests/fakes/log_capture.h"

namespace {

using Messages = std::vector<std::wstring>;
using Trace = std::vector<std::string>;

constexpr platform::ErrorNumber kStepError = 1450;          // what a failing step leaves as last error
constexpr platform::ErrorNumber kAfterUninitialize = 4242;  // what CoUninitialize leaves
const wchar_t kName[] = L"Orrin Vexel Player Updater";
const std::wstring kPath = L"C:\\Program Files\\Orrin Vexel\\VexelPlayerUpdateService.exe";
const std::wstring kTaskText = L"Keeps the player current.";

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "; ";
  return out;
}

std::wstring Failure(int code, platform::ErrorNumber error = kStepError) {
  return std::to_wstring(code) + L" " + std::to_wstring(error);
}

// A task registered earlier, repeating every 30 minutes.
void PlantExistingTask(FakeTaskSchedulerV2& scheduler, bool withTrigger = true) {
  FakeV2Registration r;
  r.definition.author = L"Someone Else";
  r.definition.description = L"An older description";
  if (withTrigger) {
    FakeV2Trigger t;
    t.type = platform::kTaskTriggerDaily;
    t.id = L"UpdateTrigger";
    t.startBoundary = L"2000-01-01T00:12:00Z";
    t.duration = L"P1D";
    t.interval = L"PT30M";
    r.definition.triggers.push_back(t);
  }
  r.definition.actions.push_back(FakeV2Action{platform::kTaskActionExec, L"C:\\old\\path.exe"});
  r.flags = platform::kTaskCreateOrUpdate;
  r.userId = L"SYSTEM";
  r.logonType = platform::kTaskLogonInteractiveToken;
  r.registrations = 1;
  scheduler.tasks[kName] = r;
}

class CreateTaskV2Test : public ::testing::Test {
 protected:
  CreateTaskV2Test() {
    fake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    fake.strings.Set(110, kTaskText);
    fake.random.draws = {3u, 7u};
  }

  void PlantExisting(bool withTrigger = true) { PlantExistingTask(fake.v2, withTrigger); }

  // What must hold at the end of every run: no interface alive, COM
  // uninitialised as often as it was initialised, nothing the platform
  // would refuse.
  void ExpectCleanEnd() {
    EXPECT_EQ(fake.com.LiveInterfaces(), 0) << fake.com.LiveKinds();
    EXPECT_EQ(fake.com.Initialisations(), 0);
    EXPECT_TRUE(fake.com.violations.empty()) << Joined(fake.com.violations);
  }

  LogCapture log;
  FakeTaskPlatform fake;
};

TEST_F(CreateTaskV2Test, NewTaskHasTheWholeDefinitionAndRegistration) {
  EXPECT_TRUE(CreateTaskV2(kPath));
  EXPECT_EQ(log.Messages(), Messages{L"1627"});
  ExpectCleanEnd();
  EXPECT_EQ(fake.com.securityAuthenticationLevel, 6u);
  EXPECT_EQ(fake.com.securityImpersonationLevel, 3u);
  EXPECT_EQ(fake.com.securityCapabilities, 0u);

  ASSERT_EQ(fake.v2.tasks.count(kName), 1u);
  const FakeV2Registration& r = fake.v2.tasks[kName];
  EXPECT_EQ(r.flags, 6);
  EXPECT_EQ(r.userId, L"SYSTEM");
  EXPECT_EQ(r.logonType, 3);
  EXPECT_EQ(r.sddl, L"");
  const FakeV2Definition& d = r.definition;
  EXPECT_EQ(d.author, L"Orrin Systems Incorporated");
  EXPECT_EQ(d.description, kTaskText);
  EXPECT_EQ(d.compatibility, 1);
  EXPECT_FALSE(d.disallowStartIfOnBatteries);
  EXPECT_TRUE(d.runOnlyIfNetworkAvailable);
  ASSERT_EQ(d.triggers.size(), 1u);
  EXPECT_EQ(d.triggers[0].type, 2);
  EXPECT_EQ(d.triggers[0].id, L"UpdateTrigger");
  EXPECT_EQ(d.triggers[0].startBoundary, L"2000-01-01T00:37:00Z");
  EXPECT_EQ(d.triggers[0].daysInterval, 1);
  EXPECT_EQ(d.triggers[0].duration, L"P1D");
  EXPECT_EQ(d.triggers[0].interval, L"PT1H");
  ASSERT_EQ(d.actions.size(), 1u);
  EXPECT_EQ(d.actions[0].type, 0);
  EXPECT_EQ(d.actions[0].path, kPath);
}

TEST_F(CreateTaskV2Test, NewTaskReleasesEachInterfaceWhenItIsDoneWithIt) {
  ASSERT_TRUE(CreateTaskV2(kPath));
  EXPECT_EQ(fake.com.TraceOf({"ITaskService::NewTask", "ITaskFolder::RegisterTaskDefinition"}),
            (Trace{"ITaskService::NewTask", "-ITaskService", "-ITaskSettings", "-IRegistrationInfo",
                   "-ITriggerCollection", "-ITrigger", "-IDailyTrigger", "-IRepetitionPattern", "-IActionCollection",
                   "-IAction", "-IExecAction", "ITaskFolder::RegisterTaskDefinition", "-ITaskFolder",
                   "-ITaskDefinition", "-IRegisteredTask", "CoUninitialize"}));
}

TEST_F(CreateTaskV2Test, EachFailingStepLogsItsCodeAndStopsOrGoesOn) {
  struct Row {
    const char* step;
    int code;
    bool goesOn;
  } rows[] = {
      {"CoCreateInstance(TaskScheduler)", 1260, false},
      {"ITaskService::Connect", 1261, false},
      {"ITaskService::GetFolder", 1262, false},
      {"ITaskService::NewTask", 1271, false},
      {"ITaskDefinition::get_Settings", 1272, false},
      {"ITaskSettings::put_Compatibility", 1273, true},
      {"ITaskSettings::put_DisallowStartIfOnBatteries", 1274, true},
      {"ITaskSettings::put_RunOnlyIfNetworkAvailable", 1275, true},
      {"ITaskDefinition::get_RegistrationInfo", 1276, false},
      {"IRegistrationInfo::put_Author", 1277, false},
      {"IRegistrationInfo::put_Description", 1278, false},
      {"ITaskDefinition::get_Triggers", 1279, false},
      {"ITriggerCollection::Create", 1280, false},
      {"ITrigger::QueryInterface(IDailyTrigger)", 1281, false},
      {"IDailyTrigger::put_Id", 1282, true},
      {"IDailyTrigger::put_StartBoundary", 1283, true},
      {"IDailyTrigger::put_DaysInterval", 1284, false},
      {"IDailyTrigger::get_Repetition", 1285, false},
      {"IRepetitionPattern::put_Duration", 1286, false},
      {"IRepetitionPattern::put_Interval", 1287, false},
      {"ITaskDefinition::get_Actions", 1288, false},
      {"IActionCollection::Create", 1289, false},
      {"IAction::QueryInterface(IExecAction)", 1290, false},
      {"IExecAction::put_Path", 1291, false},
      {"ITaskFolder::RegisterTaskDefinition", 1292, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    LogCapture rowLog;
    FakeTaskPlatform rowFake;
    rowFake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    rowFake.strings.Set(110, kTaskText);
    rowFake.com.Fail(row.step, platform::com::kFail, kStepError);

    const bool created = CreateTaskV2(kPath);

    EXPECT_EQ(created, row.goesOn);
    // The error number is read before the releases and CoUninitialize.
    const Messages expected = row.goesOn ? Messages{Failure(row.code), L"1627"} : Messages{Failure(row.code)};
    EXPECT_EQ(rowLog.Messages(), expected);
    EXPECT_EQ(rowFake.v2.tasks.count(kName), row.goesOn ? 1u : 0u);
    EXPECT_EQ(rowFake.com.LiveInterfaces(), 0) << rowFake.com.LiveKinds();
    EXPECT_EQ(rowFake.com.Initialisations(), 0);
    EXPECT_TRUE(rowFake.com.violations.empty()) << Joined(rowFake.com.violations);
    EXPECT_EQ(rowFake.com.trace.back(), "CoUninitialize");
  }
}

TEST_F(CreateTaskV2Test, WhatAFailureThatGoesOnLeavesOutStaysAtThePlatformsDefault) {
  fake.com.Fail("ITaskSettings::put_Compatibility", platform::com::kFail, kStepError);
  fake.com.Fail("IDailyTrigger::put_Id", platform::com::kNotImplemented, kStepError);
  fake.com.Fail("IDailyTrigger::put_StartBoundary", platform::com::kFail, kStepError);
  EXPECT_TRUE(CreateTaskV2(kPath));
  EXPECT_EQ(log.Codes(), (Messages{L"1273", L"1282", L"1283", L"1627"}));
  const FakeV2Definition& d = fake.v2.tasks[kName].definition;
  EXPECT_EQ(d.compatibility, 2);
  ASSERT_EQ(d.triggers.size(), 1u);
  EXPECT_EQ(d.triggers[0].id, L"");
  EXPECT_EQ(d.triggers[0].startBoundary, L"");
  EXPECT_EQ(d.triggers[0].interval, L"PT1H");
  ExpectCleanEnd();
}

TEST_F(CreateTaskV2Test, AStopReleasesTheObjectInHandThenTheDefinitionThenTheFolder) {
  fake.com.Fail("IDailyTrigger::put_DaysInterval", platform::com::kFail, kStepError);
  EXPECT_FALSE(CreateTaskV2(kPath));
  Trace trace = fake.com.TraceOf({"IDailyTrigger::put_DaysInterval"});
  auto failed = std::find(trace.begin(), trace.end(), "IDailyTrigger::put_DaysInterval");
  ASSERT_NE(failed, trace.end());
  EXPECT_EQ(Trace(failed + 1, trace.end()), (Trace{"-IDailyTrigger", "-ITaskDefinition", "-ITaskFolder", "CoUninitialize"}));
  ExpectCleanEnd();
}

TEST_F(CreateTaskV2Test, ComInitialisationFailuresEndWithoutUninitialising) {
  {
    fake.com.Fail("CoInitializeEx", platform::com::kChangedMode, kStepError);
    EXPECT_FALSE(CreateTaskV2(kPath));
    EXPECT_EQ(log.Messages(), Messages{Failure(1258)});
    EXPECT_EQ(fake.com.trace, Trace{"CoInitializeEx"});
    ExpectCleanEnd();
  }
  LogCapture securityLog;
  FakeTaskPlatform other;
  other.com.lastErrorAfterUninitialize = kAfterUninitialize;
  other.com.Fail("CoInitializeSecurity", platform::com::kTooLate, kStepError);
  EXPECT_FALSE(CreateTaskV2(kPath));
  EXPECT_EQ(securityLog.Messages(), Messages{Failure(1259)});
  EXPECT_EQ(other.com.trace, (Trace{"CoInitializeEx", "CoInitializeSecurity", "CoUninitialize"}));
  EXPECT_TRUE(other.com.violations.empty()) << Joined(other.com.violations);
}

TEST_F(CreateTaskV2Test, MissingTaskTextMakesTheDescriptionMissingLocalization) {
  FakeTaskPlatform bare;  // an empty string table
  EXPECT_TRUE(CreateTaskV2(kPath));
  EXPECT_EQ(bare.v2.tasks[kName].definition.description, L"MISSING LOCALIZATION");
}

TEST_F(CreateTaskV2Test, ExistingTaskGetsAnHourlyIntervalAndKeepsEverythingElse) {
  PlantExisting();
  const FakeV2Registration before = fake.v2.tasks[kName];
  EXPECT_TRUE(CreateTaskV2(kPath));
  EXPECT_EQ(log.Messages(), Messages{L"1626"});
  ExpectCleanEnd();

  const FakeV2Registration& after = fake.v2.tasks[kName];
  EXPECT_EQ(after.registrations, 2);
  EXPECT_EQ(after.flags, 6);
  EXPECT_EQ(after.userId, L"SYSTEM");
  EXPECT_EQ(after.logonType, 3);
  EXPECT_EQ(after.sddl, L"");
  EXPECT_EQ(after.definition.author, before.definition.author);
  EXPECT_EQ(after.definition.description, before.definition.description);
  ASSERT_EQ(after.definition.triggers.size(), 1u);
  EXPECT_EQ(after.definition.triggers[0].interval, L"PT1H");
  EXPECT_EQ(after.definition.triggers[0].startBoundary, L"2000-01-01T00:12:00Z");
  EXPECT_EQ(after.definition.triggers[0].duration, L"P1D");
  ASSERT_EQ(after.definition.actions.size(), 1u);
  EXPECT_EQ(after.definition.actions[0].path, L"C:\\old\\path.exe");
  EXPECT_EQ(fake.random.calls, 0);

  EXPECT_EQ(fake.com.TraceOf({"IRegisteredTask::get_Definition", "ITaskFolder::RegisterTaskDefinition"}),
            (Trace{"IRegisteredTask::get_Definition", "-IRegisteredTask", "-ITriggerCollection", "-ITrigger",
                   "-IRepetitionPattern", "ITaskFolder::RegisterTaskDefinition", "-ITaskDefinition", "-ITaskFolder",
                   "-IRegisteredTask", "-ITaskService", "CoUninitialize"}));
}

TEST_F(CreateTaskV2Test, EachFailingUpdateStepLogsItsCodeAndChangesNothing) {
  struct Row {
    const char* step;
    int code;
  } rows[] = {
      {"IRegisteredTask::get_Definition", 1263},     {"ITaskDefinition::get_Triggers", 1264},
      {"ITriggerCollection::get_Count", 1265},       {"ITriggerCollection::get_Item", 1267},
      {"ITrigger::get_Repetition", 1268},            {"IRepetitionPattern::put_Interval", 1269},
      {"ITaskFolder::RegisterTaskDefinition", 1270},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    LogCapture rowLog;
    FakeTaskPlatform rowFake;
    rowFake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    PlantExistingTask(rowFake.v2);
    rowFake.com.Fail(row.step, platform::com::kFail, kStepError);

    EXPECT_FALSE(CreateTaskV2(kPath));

    EXPECT_EQ(rowLog.Messages(), Messages{Failure(row.code)});
    EXPECT_EQ(rowFake.v2.tasks[kName].registrations, 1);
    EXPECT_EQ(rowFake.v2.tasks[kName].definition.triggers[0].interval, L"PT30M");
    EXPECT_EQ(rowFake.com.LiveInterfaces(), 0) << rowFake.com.LiveKinds();
    EXPECT_EQ(rowFake.com.Initialisations(), 0);
    EXPECT_TRUE(rowFake.com.violations.empty()) << Joined(rowFake.com.violations);
    EXPECT_EQ(rowFake.com.trace.back(), "CoUninitialize");
  }
}

TEST_F(CreateTaskV2Test, ExistingTaskWithoutTriggersIsLeftAlone) {
  PlantExisting(false);
  platform::SetLastError(77);
  EXPECT_FALSE(CreateTaskV2(kPath));
  EXPECT_EQ(log.Messages(), Messages{L"1266 77"});
  EXPECT_EQ(fake.v2.tasks[kName].registrations, 1);
  EXPECT_TRUE(fake.v2.tasks[kName].definition.triggers.empty());
  ExpectCleanEnd();
}

TEST_F(CreateTaskV2Test, GetTaskFailingOtherThanForAMissingTaskReplacesTheTask) {
  PlantExisting();
  fake.com.Fail("ITaskFolder::GetTask", platform::com::kAccessDenied, kStepError);
  EXPECT_TRUE(CreateTaskV2(kPath));
  EXPECT_EQ(log.Messages(), Messages{L"1627"});
  const FakeV2Registration& r = fake.v2.tasks[kName];
  EXPECT_EQ(r.registrations, 2);
  EXPECT_EQ(r.definition.author, L"Orrin Systems Incorporated");
  EXPECT_EQ(r.definition.actions[0].path, kPath);
  ExpectCleanEnd();
}

TEST(MakeStartBoundary, MinuteComesFromTwoDrawsAndIsZeroWhereADrawFails) {
  struct Row {
    std::optional<std::uint32_t> tens, units;
    const wchar_t* boundary;
  } rows[] = {
      {0u, 0u, L"2000-01-01T00:00:00Z"},
      {5u, 9u, L"2000-01-01T00:59:00Z"},
      {6u, 10u, L"2000-01-01T00:00:00Z"},
      {11u, 23u, L"2000-01-01T00:53:00Z"},
      {4294967295u, 4294967295u, L"2000-01-01T00:35:00Z"},
      {std::nullopt, 7u, L"2000-01-01T00:07:00Z"},
      {4u, std::nullopt, L"2000-01-01T00:40:00Z"},
      {std::nullopt, std::nullopt, L"2000-01-01T00:00:00Z"},
  };
  for (const Row& row : rows) {
    FakeSecureRandom random;
    platform::ScopedSeam<platform::SecureRandom> seam(&random);
    random.draws = {row.tens, row.units};
    EXPECT_EQ(MakeStartBoundary(), row.boundary);
    EXPECT_EQ(random.calls, 2);
  }
}

}  // namespace
