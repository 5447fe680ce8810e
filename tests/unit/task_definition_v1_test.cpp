// The work item through the Task Scheduler 1.0 interfaces, on the fake
// scheduler: every step failing in turn, what is logged and when the error
// number is read, whether the run stops or goes on, and that every interface
// is released before COM is uninitialised.
#include "task/task_definition_v1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "tests/fakes/fake_task_platform.h"
#include "tests/fakes/log_capture.h"

namespace {

using Messages = std::vector<std::wstring>;
using Trace = std::vector<std::string>;
using platform::TaskTriggerRecord;

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

std::wstring Line(int code, platform::ErrorNumber error) { return std::to_wstring(code) + L" " + std::to_wstring(error); }

bool SameBytes(const TaskTriggerRecord& a, const TaskTriggerRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A work item saved earlier whose trigger repeats every 30 minutes.
FakeV1WorkItem ExistingWorkItem() {
  FakeV1WorkItem item;
  item.accountSet = true;
  item.account = L"";
  item.passwordNull = true;
  item.creator = L"Someone Else";
  item.comment = L"An older comment";
  item.application = L"C:\\old\\path.exe";
  item.flags = 0x400;
  TaskTriggerRecord t{};
  t.cbTriggerSize = 48;
  t.wBeginYear = 2000;
  t.wBeginMonth = 1;
  t.wBeginDay = 1;
  t.wStartMinute = 17;
  t.minutesDuration = 1440;
  t.minutesInterval = 30;
  t.triggerType = 1;
  t.SetDailyDaysInterval(1);
  t.wRandomMinutesInterval = 3;
  item.triggers.push_back(t);
  return item;
}

void ExpectCleanEnd(FakeCom& com) {
  EXPECT_EQ(com.LiveInterfaces(), 0) << com.LiveKinds();
  EXPECT_EQ(com.Initialisations(), 0);
  EXPECT_TRUE(com.violations.empty()) << Joined(com.violations);
}

class CreateTaskV1Test : public ::testing::Test {
 protected:
  CreateTaskV1Test() {
    fake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    fake.strings.Set(110, kTaskText);
    fake.random.draws = {1357u};
  }
  LogCapture log;
  FakeTaskPlatform fake;
};

TEST_F(CreateTaskV1Test, NewWorkItemHasItsPropertiesAndOneDailyTrigger) {
  EXPECT_TRUE(CreateTaskV1(kPath));
  EXPECT_EQ(log.Messages(), Messages{L"1625"});
  ExpectCleanEnd(fake.com);

  ASSERT_EQ(fake.v1.workItems.count(kName), 1u);
  const FakeV1WorkItem& item = fake.v1.workItems[kName];
  EXPECT_TRUE(item.accountSet);
  EXPECT_EQ(item.account, L"");
  EXPECT_TRUE(item.passwordNull);
  EXPECT_EQ(item.creator, L"Orrin Systems Incorporated");
  EXPECT_EQ(item.comment, kTaskText);
  EXPECT_EQ(item.application, kPath);
  EXPECT_EQ(item.flags, 0x400u);
  ASSERT_EQ(item.triggers.size(), 1u);

  // Zeroed, then the fields of a daily trigger: 1357 modulo 60 is 37.
  TaskTriggerRecord expected{};
  expected.cbTriggerSize = 48;
  expected.wBeginYear = 2000;
  expected.wBeginMonth = 1;
  expected.wBeginDay = 1;
  expected.wStartMinute = 37;
  expected.minutesDuration = 1440;
  expected.minutesInterval = 60;
  expected.triggerType = 1;
  expected.type[0] = 1;
  EXPECT_TRUE(SameBytes(item.triggers[0], expected));
  EXPECT_EQ(fake.v1.saves, 1);

  EXPECT_EQ(fake.com.TraceOf({"ITaskScheduler::NewWorkItem", "ITaskTrigger::SetTrigger", "IPersistFile::Save"}),
            (Trace{"ITaskScheduler::NewWorkItem", "-ITaskScheduler", "ITaskTrigger::SetTrigger", "-ITaskTrigger",
                   "-ITask", "IPersistFile::Save", "-IPersistFile", "CoUninitialize"}));
}

TEST_F(CreateTaskV1Test, StartMinuteIsTheDrawModuloSixtyOrZeroWhenTheDrawFails) {
  struct Row {
    std::optional<std::uint32_t> draw;
    std::uint16_t minute;
  } rows[] = {{0u, 0}, {59u, 59}, {60u, 0}, {119u, 59}, {4294967295u, 15}, {std::nullopt, 0}};
  for (const Row& row : rows) {
    FakeTaskPlatform rowFake;
    rowFake.random.draws = {row.draw};
    ASSERT_TRUE(CreateTaskV1(kPath));
    EXPECT_EQ(rowFake.v1.workItems[kName].triggers.at(0).wStartMinute, row.minute);
    EXPECT_EQ(rowFake.random.calls, 1);
  }
}

TEST_F(CreateTaskV1Test, EachFailingCreationStepLogsItsCodeAndStopsOrGoesOn) {
  struct Row {
    const char* step;
    int code;
    bool goesOn;
    bool readAfterUninitialize;  // the error number is the one CoUninitialize left
    const wchar_t* level;
  } rows[] = {
      {"CoCreateInstance(CTaskScheduler)", 1242, false, true, L"[error]"},
      {"ITaskScheduler::NewWorkItem", 1252, false, true, L"[error]"},
      {"ITask::SetAccountInformation", 1253, false, true, L"[error]"},
      {"ITask::CreateTrigger", 1254, false, false, L"[error]"},
      {"ITask::SetCreator", 1421, true, false, L"[warning]"},
      {"ITask::SetComment", 1422, true, false, L"[warning]"},
      {"ITask::SetApplicationName", 1423, true, false, L"[warning]"},
      {"ITask::SetFlags", 1424, true, false, L"[warning]"},
      {"ITaskTrigger::SetTrigger", 1255, false, false, L"[error]"},
      {"ITask::QueryInterface(IPersistFile)", 1256, false, true, L"[error]"},
      {"IPersistFile::Save", 1257, false, true, L"[error]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    LogCapture rowLog;
    FakeTaskPlatform rowFake;
    rowFake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    rowFake.com.Fail(row.step, platform::com::kFail, kStepError);

    EXPECT_EQ(CreateTaskV1(kPath), row.goesOn);

    const std::wstring failure = Line(row.code, row.readAfterUninitialize ? kAfterUninitialize : kStepError);
    EXPECT_EQ(rowLog.Messages(), row.goesOn ? (Messages{failure, L"1625"}) : Messages{failure});
    ASSERT_FALSE(rowLog.Lines().empty());
    EXPECT_NE(rowLog.Lines()[0].find(row.level), std::wstring::npos);
    EXPECT_EQ(rowFake.v1.workItems.count(kName), row.goesOn ? 1u : 0u);
    ExpectCleanEnd(rowFake.com);
  }
}

TEST_F(CreateTaskV1Test, CoInitializeFailingLogsAndNeverUninitialises) {
  fake.com.Fail("CoInitialize", platform::com::kChangedMode, kStepError);
  EXPECT_FALSE(CreateTaskV1(kPath));
  EXPECT_EQ(log.Messages(), Messages{Line(1243, kStepError)});
  EXPECT_EQ(fake.com.trace, Trace{"CoInitialize"});
  ExpectCleanEnd(fake.com);
}

TEST_F(CreateTaskV1Test, ActivateFailingForAnotherReasonChangesNothing) {
  fake.v1.workItems[kName] = ExistingWorkItem();
  fake.com.Fail("ITaskScheduler::Activate", platform::com::kAccessDenied, platform::error::kAccessDenied);
  EXPECT_FALSE(CreateTaskV1(kPath));
  EXPECT_EQ(log.Messages(), Messages{Line(1244, kAfterUninitialize)});
  EXPECT_EQ(fake.v1.saves, 0);
  EXPECT_TRUE(SameBytes(fake.v1.workItems[kName].triggers[0], ExistingWorkItem().triggers[0]));
  ExpectCleanEnd(fake.com);
}

TEST_F(CreateTaskV1Test, ExistingWorkItemGetsAnHourlyIntervalAndKeepsEverythingElse) {
  fake.v1.workItems[kName] = ExistingWorkItem();
  EXPECT_TRUE(CreateTaskV1(kPath));
  EXPECT_EQ(log.Messages(), Messages{L"1624"});
  ExpectCleanEnd(fake.com);

  const FakeV1WorkItem& item = fake.v1.workItems[kName];
  const FakeV1WorkItem before = ExistingWorkItem();
  EXPECT_EQ(item.creator, before.creator);
  EXPECT_EQ(item.comment, before.comment);
  EXPECT_EQ(item.application, before.application);
  EXPECT_EQ(item.flags, before.flags);
  ASSERT_EQ(item.triggers.size(), 1u);
  TaskTriggerRecord expected = before.triggers[0];
  expected.minutesInterval = 60;
  EXPECT_TRUE(SameBytes(item.triggers[0], expected));
  EXPECT_EQ(fake.random.calls, 0);

  EXPECT_EQ(fake.com.TraceOf({"ITaskScheduler::Activate", "ITaskTrigger::SetTrigger", "IPersistFile::Save"}),
            (Trace{"ITaskScheduler::Activate", "-ITaskScheduler", "ITaskTrigger::SetTrigger", "-ITaskTrigger",
                   "-ITask", "IPersistFile::Save", "-IPersistFile", "CoUninitialize"}));
}

TEST_F(CreateTaskV1Test, EachFailingUpdateStepLogsItsCodeAndChangesNothing) {
  struct Row {
    const char* step;
    int code;
    bool readAfterUninitialize;
  } rows[] = {
      {"ITask::GetTriggerCount", 1245, true},
      {"ITask::GetTrigger", 1247, true},
      {"ITaskTrigger::GetTrigger", 1248, true},
      {"ITaskTrigger::SetTrigger", 1249, false},
      {"ITask::QueryInterface(IPersistFile)", 1250, true},
      {"IPersistFile::Save", 1251, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.step);
    LogCapture rowLog;
    FakeTaskPlatform rowFake;
    rowFake.com.lastErrorAfterUninitialize = kAfterUninitialize;
    rowFake.v1.workItems[kName] = ExistingWorkItem();
    rowFake.com.Fail(row.step, platform::com::kFail, kStepError);

    EXPECT_FALSE(CreateTaskV1(kPath));

    EXPECT_EQ(rowLog.Messages(), Messages{Line(row.code, row.readAfterUninitialize ? kAfterUninitialize : kStepError)});
    EXPECT_EQ(rowFake.v1.saves, 0);
    EXPECT_TRUE(SameBytes(rowFake.v1.workItems[kName].triggers[0], ExistingWorkItem().triggers[0]));
    ExpectCleanEnd(rowFake.com);
  }
}

TEST_F(CreateTaskV1Test, ExistingWorkItemWithoutTriggersIsLeftAlone) {
  FakeV1WorkItem item = ExistingWorkItem();
  item.triggers.clear();
  fake.v1.workItems[kName] = item;
  EXPECT_FALSE(CreateTaskV1(kPath));
  EXPECT_EQ(log.Messages(), Messages{Line(1246, kAfterUninitialize)});
  EXPECT_EQ(fake.v1.saves, 0);
  ExpectCleanEnd(fake.com);
}

TEST_F(CreateTaskV1Test, MissingTaskTextMakesTheCommentMissingLocalization) {
  FakeTaskPlatform bare;  // an empty string table
  EXPECT_TRUE(CreateTaskV1(kPath));
  EXPECT_EQ(bare.v1.workItems[kName].comment, L"MISSING LOCALIZATION");
}

}  // namespace
