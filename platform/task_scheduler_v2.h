// The Task Scheduler 2.0 interfaces (Windows Vista and later), one method per
// COM call. Text arguments are plain wide text: the adapter makes the BSTR
// or VARIANT of each call and frees or clears it right after the call.
// Every method returns the call's status (an HRESULT: negative is failure);
// a method that hands out an interface returns it in ComOr::value as the
// call left it, to be released with Release even when the call failed.
// The thread must be in COM (ComRuntime) for every call.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com_object.h"

namespace platform {

namespace v2 {
struct ServiceTag;             // ITaskService
struct FolderTag;              // ITaskFolder
struct RegisteredTaskTag;      // IRegisteredTask
struct DefinitionTag;          // ITaskDefinition
struct SettingsTag;            // ITaskSettings
struct RegistrationInfoTag;    // IRegistrationInfo
struct TriggerCollectionTag;   // ITriggerCollection
struct TriggerTag;             // ITrigger
struct DailyTriggerTag;        // IDailyTrigger
struct RepetitionPatternTag;   // IRepetitionPattern
struct ActionCollectionTag;    // IActionCollection
struct ActionTag;              // IAction
struct ExecActionTag;          // IExecAction
}  // namespace v2

using TaskServiceRef = ComRef<v2::ServiceTag>;
using TaskFolderRef = ComRef<v2::FolderTag>;
using RegisteredTaskRef = ComRef<v2::RegisteredTaskTag>;
using TaskDefinitionRef = ComRef<v2::DefinitionTag>;
using TaskSettingsRef = ComRef<v2::SettingsTag>;
using RegistrationInfoRef = ComRef<v2::RegistrationInfoTag>;
using TriggerCollectionRef = ComRef<v2::TriggerCollectionTag>;
using TriggerRef = ComRef<v2::TriggerTag>;
using DailyTriggerRef = ComRef<v2::DailyTriggerTag>;
using RepetitionPatternRef = ComRef<v2::RepetitionPatternTag>;
using ActionCollectionRef = ComRef<v2::ActionCollectionTag>;
using ActionRef = ComRef<v2::ActionTag>;
using ExecActionRef = ComRef<v2::ExecActionTag>;

// Constants of the Task Scheduler 2.0 interfaces.
inline constexpr std::int32_t kTaskCompatibilityV1 = 1;     // TASK_COMPATIBILITY_V1
inline constexpr std::int32_t kTaskTriggerDaily = 2;        // TASK_TRIGGER_DAILY
inline constexpr std::int32_t kTaskActionExec = 0;          // TASK_ACTION_EXEC
inline constexpr std::int32_t kTaskCreateOrUpdate = 6;      // TASK_CREATE_OR_UPDATE
inline constexpr std::int32_t kTaskLogonInteractiveToken = 3;  // TASK_LOGON_INTERACTIVE_TOKEN

class TaskSchedulerV2 {
 public:
  virtual ~TaskSchedulerV2() = default;

  // IUnknown::Release of any interface this adapter handed out.
  virtual void Release(ComObject* object) = 0;

  // CoCreateInstance(CLSID_TaskScheduler, no outer object,
  // CLSCTX_INPROC_SERVER, IID_ITaskService): the task service object.
  virtual ComOr<TaskServiceRef> CreateTaskService() = 0;

  // ITaskService::Connect with four empty VARIANTs (server, user, domain,
  // password): the local computer, as the calling account.
  virtual ComStatus Connect(TaskServiceRef service) = 0;
  // ITaskService::GetFolder(path): "\" is the root task folder.
  virtual ComOr<TaskFolderRef> GetFolder(TaskServiceRef service, const std::wstring& path) = 0;
  // ITaskService::NewTask(flags 0): an empty task definition.
  virtual ComOr<TaskDefinitionRef> NewTask(TaskServiceRef service) = 0;

  // ITaskFolder::GetTask(path): the registered task of that name. Fails when
  // there is none (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) or for any
  // other reason.
  virtual ComOr<RegisteredTaskRef> GetTask(TaskFolderRef folder, const std::wstring& path) = 0;
  // ITaskFolder::DeleteTask(name, flags 0).
  virtual ComStatus DeleteTask(TaskFolderRef folder, const std::wstring& name) = 0;
  // ITaskFolder::RegisterTaskDefinition(path, definition, flags, userId as a
  // VARIANT holding the text, password as an empty VARIANT, logonType,
  // sddl as a VARIANT holding the text): registers the definition and hands
  // out the registered task.
  virtual ComOr<RegisteredTaskRef> RegisterTaskDefinition(TaskFolderRef folder, const std::wstring& path,
                                                          TaskDefinitionRef definition, std::int32_t flags,
                                                          const std::wstring& userId, std::int32_t logonType,
                                                          const std::wstring& sddl) = 0;

  // IRegisteredTask::get_Definition: a definition object of the registered
  // task, changed only by its own put calls until it is registered again.
  virtual ComOr<TaskDefinitionRef> GetDefinition(RegisteredTaskRef task) = 0;

  // ITaskDefinition::get_Settings, get_RegistrationInfo, get_Triggers,
  // get_Actions.
  virtual ComOr<TaskSettingsRef> GetSettings(TaskDefinitionRef definition) = 0;
  virtual ComOr<RegistrationInfoRef> GetRegistrationInfo(TaskDefinitionRef definition) = 0;
  virtual ComOr<TriggerCollectionRef> GetTriggers(TaskDefinitionRef definition) = 0;
  virtual ComOr<ActionCollectionRef> GetActions(TaskDefinitionRef definition) = 0;

  // ITaskSettings::put_Compatibility (a TASK_COMPATIBILITY value),
  // put_DisallowStartIfOnBatteries and put_RunOnlyIfNetworkAvailable (the
  // bool as VARIANT_TRUE or VARIANT_FALSE).
  virtual ComStatus PutCompatibility(TaskSettingsRef settings, std::int32_t compatibility) = 0;
  virtual ComStatus PutDisallowStartIfOnBatteries(TaskSettingsRef settings, bool disallow) = 0;
  virtual ComStatus PutRunOnlyIfNetworkAvailable(TaskSettingsRef settings, bool runOnly) = 0;

  // IRegistrationInfo::put_Author, put_Description.
  virtual ComStatus PutAuthor(RegistrationInfoRef info, const std::wstring& author) = 0;
  virtual ComStatus PutDescription(RegistrationInfoRef info, const std::wstring& description) = 0;

  // ITriggerCollection::get_Count; get_Item(index), counted from 1;
  // Create(type) adds a trigger of that TASK_TRIGGER_TYPE2 to the definition.
  virtual ComOr<std::int32_t> GetTriggerCount(TriggerCollectionRef triggers) = 0;
  virtual ComOr<TriggerRef> GetTriggerItem(TriggerCollectionRef triggers, std::int32_t index) = 0;
  virtual ComOr<TriggerRef> CreateTrigger(TriggerCollectionRef triggers, std::int32_t type) = 0;

  // ITrigger::get_Repetition: the trigger's repetition pattern.
  virtual ComOr<RepetitionPatternRef> GetTriggerRepetition(TriggerRef trigger) = 0;
  // IUnknown::QueryInterface(IID_IDailyTrigger) on a trigger.
  virtual ComOr<DailyTriggerRef> QueryDailyTrigger(TriggerRef trigger) = 0;

  // IDailyTrigger::put_Id, put_StartBoundary (an ISO 8601 date and time),
  // put_DaysInterval, get_Repetition.
  virtual ComStatus PutDailyTriggerId(DailyTriggerRef trigger, const std::wstring& id) = 0;
  virtual ComStatus PutDailyTriggerStartBoundary(DailyTriggerRef trigger, const std::wstring& boundary) = 0;
  virtual ComStatus PutDaysInterval(DailyTriggerRef trigger, std::int16_t days) = 0;
  virtual ComOr<RepetitionPatternRef> GetDailyTriggerRepetition(DailyTriggerRef trigger) = 0;

  // IRepetitionPattern::put_Duration, put_Interval (ISO 8601 durations).
  virtual ComStatus PutRepetitionDuration(RepetitionPatternRef pattern, const std::wstring& duration) = 0;
  virtual ComStatus PutRepetitionInterval(RepetitionPatternRef pattern, const std::wstring& interval) = 0;

  // IActionCollection::Create(type): adds an action of that TASK_ACTION_TYPE.
  virtual ComOr<ActionRef> CreateAction(ActionCollectionRef actions, std::int32_t type) = 0;
  // IUnknown::QueryInterface(IID_IExecAction) on an action.
  virtual ComOr<ExecActionRef> QueryExecAction(ActionRef action) = 0;
  // IExecAction::put_Path: the program the action starts.
  virtual ComStatus PutExecPath(ExecActionRef action, const std::wstring& path) = 0;
};

}  // namespace platform
