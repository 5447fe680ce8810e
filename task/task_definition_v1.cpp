#include "task/task_definition_v1.h"

#include <utility>

#include "platform/com_runtime.h"
#include "platform/seam.h"
#include "platform/secure_random.h"
#include "platform/task_scheduler_v1.h"
#include "support/localized_text.h"
#include "support/log_messages.h"
#include "task/com_session.h"
#include "task/task_names.h"

namespace {

using platform::ComFailed;
using Scheduler = platform::TaskSchedulerV1;
template <class Tag>
using Owned = platform::ComOwner<Scheduler, Tag>;
namespace v1 = platform::v1;

// Most failures of this generation are logged last, after the interfaces are
// released and COM is uninitialised: the error number is the one left then.
bool FailAfterUninitialize(ComSession& session, MessageCode code) {
  session.End();
  LogCodeWithLastError(code);
  return false;
}

// The trigger of a new work item: daily from 2000-01-01 at 00:mm, repeated
// every 60 minutes for 1440 minutes, without an end date. The minute comes
// from one secure draw; 0 when the draw fails.
platform::TaskTriggerRecord NewDailyTrigger() {
  const platform::StepOr<std::uint32_t> draw = platform::Seam<platform::SecureRandom>::Get().RandS();
  platform::TaskTriggerRecord record{};
  record.cbTriggerSize = platform::kTaskTriggerSize;
  record.wBeginYear = 2000;
  record.wBeginMonth = 1;
  record.wBeginDay = 1;
  record.wStartHour = 0;
  record.wStartMinute = static_cast<std::uint16_t>(draw.ok ? draw.value % 60 : 0);
  record.minutesDuration = 1440;
  record.minutesInterval = 60;
  record.rgFlags = 0;
  record.triggerType = platform::kTaskTimeTriggerDaily;
  record.SetDailyDaysInterval(1);
  return record;
}

// The codes of the last three steps, which both paths share.
struct SaveCodes {
  MessageCode triggerWriteFailed;
  MessageCode persistFailed;
  MessageCode saveFailed;
  MessageCode saved;
};
constexpr SaveCodes kUpdateCodes{MessageCode::V1UpdateWriteRecordFailed, MessageCode::V1UpdatePersistFailed,
                                 MessageCode::V1UpdateSaveFailed, MessageCode::V1TaskUpdated};
constexpr SaveCodes kCreationCodes{MessageCode::V1TriggerWriteFailed, MessageCode::V1PersistFailed,
                                   MessageCode::V1SaveFailed, MessageCode::V1TaskCreated};

// Writes the trigger record, then saves the work item through its
// persistence interface with no file name (remember TRUE): an existing item
// where it was loaded from, a new one under its name.
bool WriteTriggerAndSave(Scheduler& scheduler, ComSession& session, Owned<v1::TaskTag> task,
                         Owned<v1::TriggerTag> trigger, const platform::TaskTriggerRecord& record,
                         const SaveCodes& codes) {
  const platform::ComStatus written = scheduler.SetTriggerRecord(trigger.Get(), record);
  trigger.Reset();
  if (ComFailed(written)) {
    LogCodeWithLastError(codes.triggerWriteFailed);
    task.Reset();
    session.End();
    return false;
  }

  auto gotPersist = scheduler.QueryPersistFile(task.Get());
  Owned<v1::PersistFileTag> persist = Take(scheduler, gotPersist);
  task.Reset();
  if (gotPersist.Failed()) {
    persist.Reset();
    return FailAfterUninitialize(session, codes.persistFailed);
  }

  const platform::ComStatus saved = scheduler.Save(persist.Get(), nullptr, true);
  persist.Reset();
  session.End();
  if (ComFailed(saved)) {
    LogCodeWithLastError(codes.saveFailed);
    return false;
  }
  LogCode(codes.saved);
  return true;
}

// The work item exists: its first trigger repeats every 60 minutes from now
// on, and everything else stays as it was.
bool UpdateWorkItem(Scheduler& scheduler, ComSession& session, Owned<v1::TaskTag> task) {
  const platform::ComOr<std::uint16_t> count = scheduler.GetTriggerCount(task.Get());
  if (count.Failed() || count.value < 1) {
    task.Reset();
    return FailAfterUninitialize(session, count.Failed() ? MessageCode::V1UpdateCountFailed
                                                         : MessageCode::V1UpdateNoTrigger);
  }

  auto gotTrigger = scheduler.GetTrigger(task.Get(), 0);
  Owned<v1::TriggerTag> trigger = Take(scheduler, gotTrigger);
  if (gotTrigger.Failed()) {
    trigger.Reset();
    task.Reset();
    return FailAfterUninitialize(session, MessageCode::V1UpdateTriggerFailed);
  }

  platform::TaskTriggerRecord record{};
  record.cbTriggerSize = platform::kTaskTriggerSize;
  if (ComFailed(scheduler.GetTriggerRecord(trigger.Get(), record))) {
    trigger.Reset();
    task.Reset();
    return FailAfterUninitialize(session, MessageCode::V1UpdateReadRecordFailed);
  }
  record.minutesInterval = 60;
  return WriteTriggerAndSave(scheduler, session, std::move(task), std::move(trigger), record, kUpdateCodes);
}

// There is no work item of the name: a new one is made and saved. The
// creator, comment, application and flags are wishes: when one cannot be
// set, a warning is logged and the creation goes on.
bool CreateWorkItem(Scheduler& scheduler, ComSession& session, Owned<v1::SchedulerTag>& taskScheduler,
                    const std::wstring& executablePath) {
  auto gotTask = scheduler.NewWorkItem(taskScheduler.Get(), kScheduledTaskName);
  Owned<v1::TaskTag> task = Take(scheduler, gotTask);
  taskScheduler.Reset();
  if (gotTask.Failed()) {
    task.Reset();
    return FailAfterUninitialize(session, MessageCode::V1NewWorkItemFailed);
  }

  // The empty account name without a password is the local system account.
  if (ComFailed(scheduler.SetAccountInformation(task.Get(), L"", nullptr))) {
    task.Reset();
    return FailAfterUninitialize(session, MessageCode::V1AccountFailed);
  }

  auto gotTrigger = scheduler.CreateTrigger(task.Get());
  Owned<v1::TriggerTag> trigger = Take(scheduler, gotTrigger);
  if (gotTrigger.Failed()) {
    LogCodeWithLastError(MessageCode::V1TriggerCreateFailed);
    trigger.Reset();
    task.Reset();
    session.End();
    return false;
  }

  if (ComFailed(scheduler.SetCreator(task.Get(), kScheduledTaskAuthor))) {
    LogCodeWithLastError(MessageCode::V1CreatorFailed);
  }
  if (ComFailed(scheduler.SetComment(task.Get(), LoadLocalizedText(kTaskDescriptionText)))) {
    LogCodeWithLastError(MessageCode::V1CommentFailed);
  }
  if (ComFailed(scheduler.SetApplicationName(task.Get(), executablePath))) {
    LogCodeWithLastError(MessageCode::V1ApplicationFailed);
  }
  if (ComFailed(scheduler.SetFlags(task.Get(), platform::kTaskFlagRunIfConnectedToInternet))) {
    LogCodeWithLastError(MessageCode::V1FlagsFailed);
  }

  return WriteTriggerAndSave(scheduler, session, std::move(task), std::move(trigger), NewDailyTrigger(),
                             kCreationCodes);
}

}  // namespace

bool CreateTaskV1(const std::wstring& executablePath) {
  platform::ComRuntime& com = platform::Seam<platform::ComRuntime>::Get();
  Scheduler& scheduler = platform::Seam<Scheduler>::Get();

  if (ComFailed(com.CoInitialize())) {
    LogCodeWithLastError(MessageCode::V1CoInitializeFailed);
    return false;
  }
  ComSession session(com);

  auto gotScheduler = scheduler.CreateTaskScheduler();
  Owned<v1::SchedulerTag> taskScheduler = Take(scheduler, gotScheduler);
  if (gotScheduler.Failed()) {
    taskScheduler.Reset();
    return FailAfterUninitialize(session, MessageCode::V1SchedulerFailed);
  }

  auto activated = scheduler.Activate(taskScheduler.Get(), kScheduledTaskName);
  Owned<v1::TaskTag> task = Take(scheduler, activated);
  if (!activated.Failed()) {
    taskScheduler.Reset();
    return UpdateWorkItem(scheduler, session, std::move(task));
  }
  if (activated.status == platform::com::kFileNotFound) {
    task.Reset();
    return CreateWorkItem(scheduler, session, taskScheduler, executablePath);
  }
  task.Reset();
  taskScheduler.Reset();
  return FailAfterUninitialize(session, MessageCode::V1ActivateFailed);
}
