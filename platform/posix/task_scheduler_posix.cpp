// The host build has no task scheduler of either generation: creating the
// scheduler object fails as for an unregistered class, with the last error
// ERROR_NOT_SUPPORTED, and no other call can be reached without one.
#include "platform/last_error.h"
#include "platform/seam.h"
#include "platform/task_scheduler_v1.h"
#include "platform/task_scheduler_v2.h"

namespace platform {
namespace {

template <class T>
ComOr<T> NoObject() {
  return ComOr<T>{com::kUnexpected, T{}};
}

class PosixTaskSchedulerV1 final : public TaskSchedulerV1 {
 public:
  void Release(ComObject*) override {}
  ComOr<TaskSchedulerRef> CreateTaskScheduler() override {
    SetLastError(error::kNotSupported);
    return ComOr<TaskSchedulerRef>{com::kClassNotRegistered, {}};
  }
  ComOr<WorkItemRef> Activate(TaskSchedulerRef, const std::wstring&) override { return NoObject<WorkItemRef>(); }
  ComOr<WorkItemRef> NewWorkItem(TaskSchedulerRef, const std::wstring&) override { return NoObject<WorkItemRef>(); }
  ComStatus Delete(TaskSchedulerRef, const std::wstring&) override { return com::kUnexpected; }
  ComOr<std::uint16_t> GetTriggerCount(WorkItemRef) override { return NoObject<std::uint16_t>(); }
  ComOr<TaskTriggerRef> GetTrigger(WorkItemRef, std::uint16_t) override { return NoObject<TaskTriggerRef>(); }
  ComOr<TaskTriggerRef> CreateTrigger(WorkItemRef) override { return NoObject<TaskTriggerRef>(); }
  ComStatus SetAccountInformation(WorkItemRef, const std::wstring&, const wchar_t*) override { return com::kUnexpected; }
  ComStatus SetCreator(WorkItemRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus SetComment(WorkItemRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus SetApplicationName(WorkItemRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus SetFlags(WorkItemRef, std::uint32_t) override { return com::kUnexpected; }
  ComOr<PersistFileRef> QueryPersistFile(WorkItemRef) override { return NoObject<PersistFileRef>(); }
  ComStatus GetTriggerRecord(TaskTriggerRef, TaskTriggerRecord&) override { return com::kUnexpected; }
  ComStatus SetTriggerRecord(TaskTriggerRef, const TaskTriggerRecord&) override { return com::kUnexpected; }
  ComStatus Save(PersistFileRef, const wchar_t*, bool) override { return com::kUnexpected; }
};

class PosixTaskSchedulerV2 final : public TaskSchedulerV2 {
 public:
  void Release(ComObject*) override {}
  ComOr<TaskServiceRef> CreateTaskService() override {
    SetLastError(error::kNotSupported);
    return ComOr<TaskServiceRef>{com::kClassNotRegistered, {}};
  }
  ComStatus Connect(TaskServiceRef) override { return com::kUnexpected; }
  ComOr<TaskFolderRef> GetFolder(TaskServiceRef, const std::wstring&) override { return NoObject<TaskFolderRef>(); }
  ComOr<TaskDefinitionRef> NewTask(TaskServiceRef) override { return NoObject<TaskDefinitionRef>(); }
  ComOr<RegisteredTaskRef> GetTask(TaskFolderRef, const std::wstring&) override { return NoObject<RegisteredTaskRef>(); }
  ComStatus DeleteTask(TaskFolderRef, const std::wstring&) override { return com::kUnexpected; }
  ComOr<RegisteredTaskRef> RegisterTaskDefinition(TaskFolderRef, const std::wstring&, TaskDefinitionRef, std::int32_t,
                                                  const std::wstring&, std::int32_t, const std::wstring&) override {
    return NoObject<RegisteredTaskRef>();
  }
  ComOr<TaskDefinitionRef> GetDefinition(RegisteredTaskRef) override { return NoObject<TaskDefinitionRef>(); }
  ComOr<TaskSettingsRef> GetSettings(TaskDefinitionRef) override { return NoObject<TaskSettingsRef>(); }
  ComOr<RegistrationInfoRef> GetRegistrationInfo(TaskDefinitionRef) override { return NoObject<RegistrationInfoRef>(); }
  ComOr<TriggerCollectionRef> GetTriggers(TaskDefinitionRef) override { return NoObject<TriggerCollectionRef>(); }
  ComOr<ActionCollectionRef> GetActions(TaskDefinitionRef) override { return NoObject<ActionCollectionRef>(); }
  ComStatus PutCompatibility(TaskSettingsRef, std::int32_t) override { return com::kUnexpected; }
  ComStatus PutDisallowStartIfOnBatteries(TaskSettingsRef, bool) override { return com::kUnexpected; }
  ComStatus PutRunOnlyIfNetworkAvailable(TaskSettingsRef, bool) override { return com::kUnexpected; }
  ComStatus PutAuthor(RegistrationInfoRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus PutDescription(RegistrationInfoRef, const std::wstring&) override { return com::kUnexpected; }
  ComOr<std::int32_t> GetTriggerCount(TriggerCollectionRef) override { return NoObject<std::int32_t>(); }
  ComOr<TriggerRef> GetTriggerItem(TriggerCollectionRef, std::int32_t) override { return NoObject<TriggerRef>(); }
  ComOr<TriggerRef> CreateTrigger(TriggerCollectionRef, std::int32_t) override { return NoObject<TriggerRef>(); }
  ComOr<RepetitionPatternRef> GetTriggerRepetition(TriggerRef) override { return NoObject<RepetitionPatternRef>(); }
  ComOr<DailyTriggerRef> QueryDailyTrigger(TriggerRef) override { return NoObject<DailyTriggerRef>(); }
  ComStatus PutDailyTriggerId(DailyTriggerRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus PutDailyTriggerStartBoundary(DailyTriggerRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus PutDaysInterval(DailyTriggerRef, std::int16_t) override { return com::kUnexpected; }
  ComOr<RepetitionPatternRef> GetDailyTriggerRepetition(DailyTriggerRef) override {
    return NoObject<RepetitionPatternRef>();
  }
  ComStatus PutRepetitionDuration(RepetitionPatternRef, const std::wstring&) override { return com::kUnexpected; }
  ComStatus PutRepetitionInterval(RepetitionPatternRef, const std::wstring&) override { return com::kUnexpected; }
  ComOr<ActionRef> CreateAction(ActionCollectionRef, std::int32_t) override { return NoObject<ActionRef>(); }
  ComOr<ExecActionRef> QueryExecAction(ActionRef) override { return NoObject<ExecActionRef>(); }
  ComStatus PutExecPath(ExecActionRef, const std::wstring&) override { return com::kUnexpected; }
};

}  // namespace

template <>
TaskSchedulerV1& PlatformDefault<TaskSchedulerV1>() {
  static PosixTaskSchedulerV1 scheduler;
  return scheduler;
}

template <>
TaskSchedulerV2& PlatformDefault<TaskSchedulerV2>() {
  static PosixTaskSchedulerV2 scheduler;
  return scheduler;
}

}  // namespace platform
