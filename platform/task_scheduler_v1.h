// The Task Scheduler 1.0 interfaces (before Windows Vista), one method per
// COM call. Texts are passed as plain terminated wide strings. Every method
// returns the call's status (an HRESULT: negative is failure); a method that
// hands out an interface returns it in ComOr::value as the call left it, to
// be released with Release even when the call failed. The thread must be in
// COM (ComRuntime) for every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com_object.h"

namespace platform {

namespace v1 {
struct SchedulerTag;    // ITaskScheduler
struct TaskTag;         // ITask
struct TriggerTag;      // ITaskTrigger
struct PersistFileTag;  // IPersistFile
}  // namespace v1

using TaskSchedulerRef = ComRef<v1::SchedulerTag>;
using WorkItemRef = ComRef<v1::TaskTag>;
using TaskTriggerRef = ComRef<v1::TriggerTag>;
using PersistFileRef = ComRef<v1::PersistFileTag>;

// The platform's TASK_TRIGGER record, field for field and byte for byte:
// 48 bytes, little-endian, as ITaskTrigger reads and writes it.
struct TaskTriggerRecord {
  std::uint16_t cbTriggerSize = 0;
  std::uint16_t reserved1 = 0;
  std::uint16_t wBeginYear = 0;
  std::uint16_t wBeginMonth = 0;
  std::uint16_t wBeginDay = 0;
  std::uint16_t wEndYear = 0;
  std::uint16_t wEndMonth = 0;
  std::uint16_t wEndDay = 0;
  std::uint16_t wStartHour = 0;
  std::uint16_t wStartMinute = 0;
  std::uint32_t minutesDuration = 0;
  std::uint32_t minutesInterval = 0;
  std::uint32_t rgFlags = 0;
  std::uint32_t triggerType = 0;  // TASK_TRIGGER_TYPE
  // The TRIGGER_TYPE_UNION, kept as its raw words so that a record read and
  // written back keeps whatever the trigger held. For a daily trigger the
  // first word is Type.Daily.DaysInterval.
  std::uint16_t type[4] = {0, 0, 0, 0};
  std::uint16_t reserved2 = 0;
  std::uint16_t wRandomMinutesInterval = 0;

  std::uint16_t DailyDaysInterval() const { return type[0]; }
  void SetDailyDaysInterval(std::uint16_t days) { type[0] = days; }
};
static_assert(sizeof(TaskTriggerRecord) == 48, "TASK_TRIGGER is 48 bytes");
static_assert(offsetof(TaskTriggerRecord, minutesDuration) == 20, "TASK_TRIGGER layout");
static_assert(offsetof(TaskTriggerRecord, triggerType) == 32, "TASK_TRIGGER layout");
static_assert(offsetof(TaskTriggerRecord, type) == 36, "TASK_TRIGGER layout");
static_assert(offsetof(TaskTriggerRecord, wRandomMinutesInterval) == 46, "TASK_TRIGGER layout");

// Constants of the Task Scheduler 1.0 interfaces.
inline constexpr std::uint16_t kTaskTriggerSize = 48;                     // sizeof(TASK_TRIGGER)
inline constexpr std::uint32_t kTaskTimeTriggerDaily = 1;                 // TASK_TIME_TRIGGER_DAILY
inline constexpr std::uint32_t kTaskFlagRunIfConnectedToInternet = 0x400;  // TASK_FLAG_RUN_IF_CONNECTED_TO_INTERNET

class TaskSchedulerV1 {
 public:
  virtual ~TaskSchedulerV1() = default;

  // IUnknown::Release of any interface this adapter handed out.
  virtual void Release(ComObject* object) = 0;

  // CoCreateInstance(CLSID_CTaskScheduler, no outer object,
  // CLSCTX_INPROC_SERVER, IID_ITaskScheduler): the scheduler object.
  virtual ComOr<TaskSchedulerRef> CreateTaskScheduler() = 0;

  // ITaskScheduler::Activate(name, IID_ITask): the existing work item of
  // that name. Fails with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
  // (0x80070002) when there is none, with other failures otherwise.
  virtual ComOr<WorkItemRef> Activate(TaskSchedulerRef scheduler, const std::wstring& name) = 0;
  // ITaskScheduler::NewWorkItem(name, CLSID_CTask, IID_ITask): a new work
  // item of that name, stored only when it is saved.
  virtual ComOr<WorkItemRef> NewWorkItem(TaskSchedulerRef scheduler, const std::wstring& name) = 0;
  // ITaskScheduler::Delete(name): deletes the work item.
  virtual ComStatus Delete(TaskSchedulerRef scheduler, const std::wstring& name) = 0;

  // ITask::GetTriggerCount; GetTrigger(index), counted from 0; CreateTrigger
  // adds a trigger (the index it hands back is not passed on).
  virtual ComOr<std::uint16_t> GetTriggerCount(WorkItemRef task) = 0;
  virtual ComOr<TaskTriggerRef> GetTrigger(WorkItemRef task, std::uint16_t index) = 0;
  virtual ComOr<TaskTriggerRef> CreateTrigger(WorkItemRef task) = 0;
  // ITask::SetAccountInformation(account, password): a null password with
  // the empty account name "" selects the local system account.
  virtual ComStatus SetAccountInformation(WorkItemRef task, const std::wstring& account,
                                          const wchar_t* password) = 0;
  // ITask::SetCreator, SetComment, SetApplicationName, SetFlags.
  virtual ComStatus SetCreator(WorkItemRef task, const std::wstring& creator) = 0;
  virtual ComStatus SetComment(WorkItemRef task, const std::wstring& comment) = 0;
  virtual ComStatus SetApplicationName(WorkItemRef task, const std::wstring& application) = 0;
  virtual ComStatus SetFlags(WorkItemRef task, std::uint32_t flags) = 0;
  // IUnknown::QueryInterface(IID_IPersistFile) on a work item.
  virtual ComOr<PersistFileRef> QueryPersistFile(WorkItemRef task) = 0;

  // ITaskTrigger::GetTrigger: reads the trigger into `record`, whose
  // cbTriggerSize the caller sets to 48 beforehand; SetTrigger writes it.
  virtual ComStatus GetTriggerRecord(TaskTriggerRef trigger, TaskTriggerRecord& record) = 0;
  virtual ComStatus SetTriggerRecord(TaskTriggerRef trigger, const TaskTriggerRecord& record) = 0;

  // IPersistFile::Save(fileName, remember): a null file name saves the work
  // item where it was loaded from, or under its name in the scheduler's
  // folder when it is new.
  virtual ComStatus Save(PersistFileRef persist, const wchar_t* fileName, bool remember) = 0;
};

}  // namespace platform
