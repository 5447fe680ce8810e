#include <windows.h>
#include <objbase.h>
#include <mstask.h>

#include <cstddef>
#include <cstring>

#include "platform/seam.h"
#include "platform/task_scheduler_v1.h"
#include "platform/win32/com_win32.h"

namespace platform {
namespace {

using win32::FromRef;
using win32::Handed;

// The core's record and the platform's are the same 48 bytes.
static_assert(sizeof(TASK_TRIGGER) == sizeof(TaskTriggerRecord), "TASK_TRIGGER size");
static_assert(offsetof(TASK_TRIGGER, MinutesInterval) == offsetof(TaskTriggerRecord, minutesInterval),
              "TASK_TRIGGER layout");
static_assert(offsetof(TASK_TRIGGER, TriggerType) == offsetof(TaskTriggerRecord, triggerType), "TASK_TRIGGER layout");
static_assert(offsetof(TASK_TRIGGER, Type) == offsetof(TaskTriggerRecord, type), "TASK_TRIGGER layout");
static_assert(offsetof(TASK_TRIGGER, Reserved2) == offsetof(TaskTriggerRecord, reserved2), "TASK_TRIGGER layout");
static_assert(offsetof(TASK_TRIGGER, wRandomMinutesInterval) == offsetof(TaskTriggerRecord, wRandomMinutesInterval),
              "TASK_TRIGGER layout");

class Win32TaskSchedulerV1 final : public TaskSchedulerV1 {
 public:
  void Release(ComObject* object) override { win32::ReleaseObject(object); }

  ComOr<TaskSchedulerRef> CreateTaskScheduler() override {
    ITaskScheduler* scheduler = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                    reinterpret_cast<void**>(&scheduler));
    return Handed<v1::SchedulerTag>(hr, scheduler);
  }

  ComOr<WorkItemRef> Activate(TaskSchedulerRef scheduler, const std::wstring& name) override {
    IUnknown* task = nullptr;  // the ITask asked for
    HRESULT hr = FromRef<ITaskScheduler>(scheduler)->Activate(name.c_str(), IID_ITask, &task);
    return Handed<v1::TaskTag>(hr, task);
  }

  ComOr<WorkItemRef> NewWorkItem(TaskSchedulerRef scheduler, const std::wstring& name) override {
    IUnknown* task = nullptr;  // the ITask asked for
    HRESULT hr = FromRef<ITaskScheduler>(scheduler)->NewWorkItem(name.c_str(), CLSID_CTask, IID_ITask, &task);
    return Handed<v1::TaskTag>(hr, task);
  }

  ComStatus Delete(TaskSchedulerRef scheduler, const std::wstring& name) override {
    return FromRef<ITaskScheduler>(scheduler)->Delete(name.c_str());
  }

  ComOr<std::uint16_t> GetTriggerCount(WorkItemRef task) override {
    WORD count = 0;
    HRESULT hr = FromRef<ITask>(task)->GetTriggerCount(&count);
    return ComOr<std::uint16_t>{static_cast<ComStatus>(hr), count};
  }

  ComOr<TaskTriggerRef> GetTrigger(WorkItemRef task, std::uint16_t index) override {
    ITaskTrigger* trigger = nullptr;
    HRESULT hr = FromRef<ITask>(task)->GetTrigger(index, &trigger);
    return Handed<v1::TriggerTag>(hr, trigger);
  }

  ComOr<TaskTriggerRef> CreateTrigger(WorkItemRef task) override {
    ITaskTrigger* trigger = nullptr;
    WORD index = 0;
    HRESULT hr = FromRef<ITask>(task)->CreateTrigger(&index, &trigger);
    return Handed<v1::TriggerTag>(hr, trigger);
  }

  ComStatus SetAccountInformation(WorkItemRef task, const std::wstring& account, const wchar_t* password) override {
    return FromRef<ITask>(task)->SetAccountInformation(account.c_str(), password);
  }

  ComStatus SetCreator(WorkItemRef task, const std::wstring& creator) override {
    return FromRef<ITask>(task)->SetCreator(creator.c_str());
  }

  ComStatus SetComment(WorkItemRef task, const std::wstring& comment) override {
    return FromRef<ITask>(task)->SetComment(comment.c_str());
  }

  ComStatus SetApplicationName(WorkItemRef task, const std::wstring& application) override {
    return FromRef<ITask>(task)->SetApplicationName(application.c_str());
  }

  ComStatus SetFlags(WorkItemRef task, std::uint32_t flags) override { return FromRef<ITask>(task)->SetFlags(flags); }

  ComOr<PersistFileRef> QueryPersistFile(WorkItemRef task) override {
    IPersistFile* persist = nullptr;
    HRESULT hr = FromRef<ITask>(task)->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    return Handed<v1::PersistFileTag>(hr, persist);
  }

  ComStatus GetTriggerRecord(TaskTriggerRef trigger, TaskTriggerRecord& record) override {
    TASK_TRIGGER platformRecord;
    std::memcpy(&platformRecord, &record, sizeof platformRecord);
    HRESULT hr = FromRef<ITaskTrigger>(trigger)->GetTrigger(&platformRecord);
    if (SUCCEEDED(hr)) std::memcpy(static_cast<void*>(&record), &platformRecord, sizeof record);
    return hr;
  }

  ComStatus SetTriggerRecord(TaskTriggerRef trigger, const TaskTriggerRecord& record) override {
    TASK_TRIGGER platformRecord;
    std::memcpy(&platformRecord, &record, sizeof platformRecord);
    return FromRef<ITaskTrigger>(trigger)->SetTrigger(&platformRecord);
  }

  ComStatus Save(PersistFileRef persist, const wchar_t* fileName, bool remember) override {
    return FromRef<IPersistFile>(persist)->Save(fileName, remember ? TRUE : FALSE);
  }
};

}  // namespace

template <>
TaskSchedulerV1& PlatformDefault<TaskSchedulerV1>() {
  static Win32TaskSchedulerV1 scheduler;
  return scheduler;
}

}  // namespace platform
