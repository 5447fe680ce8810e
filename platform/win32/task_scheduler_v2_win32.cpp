#include <windows.h>
#include <objbase.h>
#include <taskschd.h>

#include "platform/seam.h"
#include "platform/task_scheduler_v2.h"
#include "platform/win32/com_win32.h"

namespace platform {
namespace {

using win32::Bstr;
using win32::FromRef;
using win32::Handed;
using win32::Variant;

// A text argument that could not be allocated fails the step before the call.
constexpr HRESULT kNoText = E_OUTOFMEMORY;

class Win32TaskSchedulerV2 final : public TaskSchedulerV2 {
 public:
  void Release(ComObject* object) override { win32::ReleaseObject(object); }

  ComOr<TaskServiceRef> CreateTaskService() override {
    ITaskService* service = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                    reinterpret_cast<void**>(&service));
    return Handed<v2::ServiceTag>(hr, service);
  }

  ComStatus Connect(TaskServiceRef service) override {
    Variant server, user, domain, password;
    return FromRef<ITaskService>(service)->Connect(server.Get(), user.Get(), domain.Get(), password.Get());
  }

  ComOr<TaskFolderRef> GetFolder(TaskServiceRef service, const std::wstring& path) override {
    ITaskFolder* folder = nullptr;
    Bstr p(path);
    HRESULT hr = p.Valid() ? FromRef<ITaskService>(service)->GetFolder(p.Get(), &folder) : kNoText;
    return Handed<v2::FolderTag>(hr, folder);
  }

  ComOr<TaskDefinitionRef> NewTask(TaskServiceRef service) override {
    ITaskDefinition* definition = nullptr;
    HRESULT hr = FromRef<ITaskService>(service)->NewTask(0, &definition);
    return Handed<v2::DefinitionTag>(hr, definition);
  }

  ComOr<RegisteredTaskRef> GetTask(TaskFolderRef folder, const std::wstring& path) override {
    IRegisteredTask* task = nullptr;
    Bstr p(path);
    HRESULT hr = p.Valid() ? FromRef<ITaskFolder>(folder)->GetTask(p.Get(), &task) : kNoText;
    return Handed<v2::RegisteredTaskTag>(hr, task);
  }

  ComStatus DeleteTask(TaskFolderRef folder, const std::wstring& name) override {
    Bstr n(name);
    return n.Valid() ? FromRef<ITaskFolder>(folder)->DeleteTask(n.Get(), 0) : kNoText;
  }

  ComOr<RegisteredTaskRef> RegisterTaskDefinition(TaskFolderRef folder, const std::wstring& path,
                                                  TaskDefinitionRef definition, std::int32_t flags,
                                                  const std::wstring& userId, std::int32_t logonType,
                                                  const std::wstring& sddl) override {
    IRegisteredTask* task = nullptr;
    Bstr p(path);
    Variant user(userId), password, descriptor(sddl);
    HRESULT hr = kNoText;
    if (p.Valid() && user.Valid() && descriptor.Valid()) {
      hr = FromRef<ITaskFolder>(folder)->RegisterTaskDefinition(
          p.Get(), FromRef<ITaskDefinition>(definition), flags, user.Get(), password.Get(),
          static_cast<TASK_LOGON_TYPE>(logonType), descriptor.Get(), &task);
    }
    return Handed<v2::RegisteredTaskTag>(hr, task);
  }

  ComOr<TaskDefinitionRef> GetDefinition(RegisteredTaskRef task) override {
    ITaskDefinition* definition = nullptr;
    HRESULT hr = FromRef<IRegisteredTask>(task)->get_Definition(&definition);
    return Handed<v2::DefinitionTag>(hr, definition);
  }

  ComOr<TaskSettingsRef> GetSettings(TaskDefinitionRef definition) override {
    ITaskSettings* settings = nullptr;
    HRESULT hr = FromRef<ITaskDefinition>(definition)->get_Settings(&settings);
    return Handed<v2::SettingsTag>(hr, settings);
  }

  ComOr<RegistrationInfoRef> GetRegistrationInfo(TaskDefinitionRef definition) override {
    IRegistrationInfo* info = nullptr;
    HRESULT hr = FromRef<ITaskDefinition>(definition)->get_RegistrationInfo(&info);
    return Handed<v2::RegistrationInfoTag>(hr, info);
  }

  ComOr<TriggerCollectionRef> GetTriggers(TaskDefinitionRef definition) override {
    ITriggerCollection* triggers = nullptr;
    HRESULT hr = FromRef<ITaskDefinition>(definition)->get_Triggers(&triggers);
    return Handed<v2::TriggerCollectionTag>(hr, triggers);
  }

  ComOr<ActionCollectionRef> GetActions(TaskDefinitionRef definition) override {
    IActionCollection* actions = nullptr;
    HRESULT hr = FromRef<ITaskDefinition>(definition)->get_Actions(&actions);
    return Handed<v2::ActionCollectionTag>(hr, actions);
  }

  ComStatus PutCompatibility(TaskSettingsRef settings, std::int32_t compatibility) override {
    return FromRef<ITaskSettings>(settings)->put_Compatibility(static_cast<TASK_COMPATIBILITY>(compatibility));
  }

  ComStatus PutDisallowStartIfOnBatteries(TaskSettingsRef settings, bool disallow) override {
    return FromRef<ITaskSettings>(settings)->put_DisallowStartIfOnBatteries(disallow ? VARIANT_TRUE : VARIANT_FALSE);
  }

  ComStatus PutRunOnlyIfNetworkAvailable(TaskSettingsRef settings, bool runOnly) override {
    return FromRef<ITaskSettings>(settings)->put_RunOnlyIfNetworkAvailable(runOnly ? VARIANT_TRUE : VARIANT_FALSE);
  }

  ComStatus PutAuthor(RegistrationInfoRef info, const std::wstring& author) override {
    Bstr a(author);
    return a.Valid() ? FromRef<IRegistrationInfo>(info)->put_Author(a.Get()) : kNoText;
  }

  ComStatus PutDescription(RegistrationInfoRef info, const std::wstring& description) override {
    Bstr d(description);
    return d.Valid() ? FromRef<IRegistrationInfo>(info)->put_Description(d.Get()) : kNoText;
  }

  ComOr<std::int32_t> GetTriggerCount(TriggerCollectionRef triggers) override {
    LONG count = 0;
    HRESULT hr = FromRef<ITriggerCollection>(triggers)->get_Count(&count);
    return ComOr<std::int32_t>{static_cast<ComStatus>(hr), static_cast<std::int32_t>(count)};
  }

  ComOr<TriggerRef> GetTriggerItem(TriggerCollectionRef triggers, std::int32_t index) override {
    ITrigger* trigger = nullptr;
    HRESULT hr = FromRef<ITriggerCollection>(triggers)->get_Item(index, &trigger);
    return Handed<v2::TriggerTag>(hr, trigger);
  }

  ComOr<TriggerRef> CreateTrigger(TriggerCollectionRef triggers, std::int32_t type) override {
    ITrigger* trigger = nullptr;
    HRESULT hr = FromRef<ITriggerCollection>(triggers)->Create(static_cast<TASK_TRIGGER_TYPE2>(type), &trigger);
    return Handed<v2::TriggerTag>(hr, trigger);
  }

  ComOr<RepetitionPatternRef> GetTriggerRepetition(TriggerRef trigger) override {
    IRepetitionPattern* pattern = nullptr;
    HRESULT hr = FromRef<ITrigger>(trigger)->get_Repetition(&pattern);
    return Handed<v2::RepetitionPatternTag>(hr, pattern);
  }

  ComOr<DailyTriggerRef> QueryDailyTrigger(TriggerRef trigger) override {
    IDailyTrigger* daily = nullptr;
    HRESULT hr = FromRef<ITrigger>(trigger)->QueryInterface(IID_IDailyTrigger, reinterpret_cast<void**>(&daily));
    return Handed<v2::DailyTriggerTag>(hr, daily);
  }

  ComStatus PutDailyTriggerId(DailyTriggerRef trigger, const std::wstring& id) override {
    Bstr i(id);
    return i.Valid() ? FromRef<IDailyTrigger>(trigger)->put_Id(i.Get()) : kNoText;
  }

  ComStatus PutDailyTriggerStartBoundary(DailyTriggerRef trigger, const std::wstring& boundary) override {
    Bstr b(boundary);
    return b.Valid() ? FromRef<IDailyTrigger>(trigger)->put_StartBoundary(b.Get()) : kNoText;
  }

  ComStatus PutDaysInterval(DailyTriggerRef trigger, std::int16_t days) override {
    return FromRef<IDailyTrigger>(trigger)->put_DaysInterval(days);
  }

  ComOr<RepetitionPatternRef> GetDailyTriggerRepetition(DailyTriggerRef trigger) override {
    IRepetitionPattern* pattern = nullptr;
    HRESULT hr = FromRef<IDailyTrigger>(trigger)->get_Repetition(&pattern);
    return Handed<v2::RepetitionPatternTag>(hr, pattern);
  }

  ComStatus PutRepetitionDuration(RepetitionPatternRef pattern, const std::wstring& duration) override {
    Bstr d(duration);
    return d.Valid() ? FromRef<IRepetitionPattern>(pattern)->put_Duration(d.Get()) : kNoText;
  }

  ComStatus PutRepetitionInterval(RepetitionPatternRef pattern, const std::wstring& interval) override {
    Bstr i(interval);
    return i.Valid() ? FromRef<IRepetitionPattern>(pattern)->put_Interval(i.Get()) : kNoText;
  }

  ComOr<ActionRef> CreateAction(ActionCollectionRef actions, std::int32_t type) override {
    IAction* action = nullptr;
    HRESULT hr = FromRef<IActionCollection>(actions)->Create(static_cast<TASK_ACTION_TYPE>(type), &action);
    return Handed<v2::ActionTag>(hr, action);
  }

  ComOr<ExecActionRef> QueryExecAction(ActionRef action) override {
    IExecAction* exec = nullptr;
    HRESULT hr = FromRef<IAction>(action)->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec));
    return Handed<v2::ExecActionTag>(hr, exec);
  }

  ComStatus PutExecPath(ExecActionRef action, const std::wstring& path) override {
    Bstr p(path);
    return p.Valid() ? FromRef<IExecAction>(action)->put_Path(p.Get()) : kNoText;
  }
};

}  // namespace

template <>
TaskSchedulerV2& PlatformDefault<TaskSchedulerV2>() {
  static Win32TaskSchedulerV2 scheduler;
  return scheduler;
}

}  // namespace platform
