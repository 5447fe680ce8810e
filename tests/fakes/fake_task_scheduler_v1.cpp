#include "tests/fakes/fake_task_scheduler_v1.h"

using platform::ComOr;
using platform::ComStatus;
namespace com = platform::com;

struct FakeTaskSchedulerV1::Object : FakeComObject {
  using FakeComObject::FakeComObject;
  std::wstring name;                     // the work item's name
  std::shared_ptr<FakeV1WorkItem> item;  // the working copy of the work item
  std::size_t index = 0;                 // a trigger's number
};

namespace {
template <class Ref>
ComOr<Ref> Failed(ComStatus status) {
  return ComOr<Ref>{status, Ref{}};
}
constexpr ComStatus kFileExists = static_cast<ComStatus>(0x80070050u);  // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)
}  // namespace

platform::TaskTriggerRecord FakeTaskSchedulerV1::NewTriggerRecord() {
  platform::TaskTriggerRecord r;
  r.cbTriggerSize = platform::kTaskTriggerSize;
  r.wBeginYear = 2010;
  r.wBeginMonth = 11;
  r.wBeginDay = 3;
  r.wStartHour = 9;
  r.wStartMinute = 5;
  r.triggerType = 0;  // TASK_TIME_TRIGGER_ONCE
  return r;
}

template <class Ref>
ComOr<Ref> FakeTaskSchedulerV1::Hand(const char* kind, std::wstring name, std::shared_ptr<FakeV1WorkItem> item,
                                     std::size_t index) {
  auto object = std::make_unique<Object>(kind);
  object->name = std::move(name);
  object->item = std::move(item);
  object->index = index;
  return ComOr<Ref>{com::kOk, Ref{com_.Hand(std::move(object))}};
}

FakeTaskSchedulerV1::Object* FakeTaskSchedulerV1::Find(platform::ComObject* object, const char* kind) {
  return com_.Find<Object>(object, kind);
}

FakeTaskSchedulerV1::Object* FakeTaskSchedulerV1::FindTask(platform::WorkItemRef task, const char* step,
                                                           ComStatus& status) {
  auto f = com_.Enter(step);
  Object* t = Find(task.object, "ITask");
  status = f ? f->status : t == nullptr ? com::kPointer : com::kOk;
  return platform::ComFailed(status) ? nullptr : t;
}

ComOr<platform::TaskSchedulerRef> FakeTaskSchedulerV1::CreateTaskScheduler() {
  if (auto f = com_.Enter("CoCreateInstance(CTaskScheduler)")) return Failed<platform::TaskSchedulerRef>(f->status);
  return Hand<platform::TaskSchedulerRef>("ITaskScheduler");
}

ComOr<platform::WorkItemRef> FakeTaskSchedulerV1::Activate(platform::TaskSchedulerRef scheduler,
                                                           const std::wstring& name) {
  auto f = com_.Enter("ITaskScheduler::Activate");
  Object* s = Find(scheduler.object, "ITaskScheduler");
  if (f) return Failed<platform::WorkItemRef>(f->status);
  if (s == nullptr) return Failed<platform::WorkItemRef>(com::kPointer);
  auto it = workItems.find(name);
  if (it == workItems.end()) return Failed<platform::WorkItemRef>(com::kFileNotFound);
  return Hand<platform::WorkItemRef>("ITask", name, std::make_shared<FakeV1WorkItem>(it->second));
}

ComOr<platform::WorkItemRef> FakeTaskSchedulerV1::NewWorkItem(platform::TaskSchedulerRef scheduler,
                                                              const std::wstring& name) {
  auto f = com_.Enter("ITaskScheduler::NewWorkItem");
  Object* s = Find(scheduler.object, "ITaskScheduler");
  if (f) return Failed<platform::WorkItemRef>(f->status);
  if (s == nullptr) return Failed<platform::WorkItemRef>(com::kPointer);
  if (workItems.count(name) != 0) return Failed<platform::WorkItemRef>(kFileExists);
  return Hand<platform::WorkItemRef>("ITask", name, std::make_shared<FakeV1WorkItem>());
}

ComStatus FakeTaskSchedulerV1::Delete(platform::TaskSchedulerRef scheduler, const std::wstring& name) {
  auto f = com_.Enter("ITaskScheduler::Delete");
  Object* s = Find(scheduler.object, "ITaskScheduler");
  if (f) return f->status;
  if (s == nullptr) return com::kPointer;
  return workItems.erase(name) != 0 ? com::kOk : com::kFileNotFound;
}

ComOr<std::uint16_t> FakeTaskSchedulerV1::GetTriggerCount(platform::WorkItemRef task) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::GetTriggerCount", status);
  if (t == nullptr) return ComOr<std::uint16_t>{status, 0};
  return ComOr<std::uint16_t>{com::kOk, static_cast<std::uint16_t>(t->item->triggers.size())};
}

ComOr<platform::TaskTriggerRef> FakeTaskSchedulerV1::GetTrigger(platform::WorkItemRef task, std::uint16_t index) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::GetTrigger", status);
  if (t == nullptr) return Failed<platform::TaskTriggerRef>(status);
  if (index >= t->item->triggers.size()) return Failed<platform::TaskTriggerRef>(com::kInvalidArgument);
  return Hand<platform::TaskTriggerRef>("ITaskTrigger", t->name, t->item, index);
}

ComOr<platform::TaskTriggerRef> FakeTaskSchedulerV1::CreateTrigger(platform::WorkItemRef task) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::CreateTrigger", status);
  if (t == nullptr) return Failed<platform::TaskTriggerRef>(status);
  t->item->triggers.push_back(NewTriggerRecord());
  return Hand<platform::TaskTriggerRef>("ITaskTrigger", t->name, t->item, t->item->triggers.size() - 1);
}

ComStatus FakeTaskSchedulerV1::SetAccountInformation(platform::WorkItemRef task, const std::wstring& account,
                                                     const wchar_t* password) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::SetAccountInformation", status);
  if (t == nullptr) return status;
  t->item->accountSet = true;
  t->item->account = account;
  t->item->passwordNull = password == nullptr;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV1::SetCreator(platform::WorkItemRef task, const std::wstring& creator) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::SetCreator", status);
  if (t == nullptr) return status;
  t->item->creator = creator;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV1::SetComment(platform::WorkItemRef task, const std::wstring& comment) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::SetComment", status);
  if (t == nullptr) return status;
  t->item->comment = comment;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV1::SetApplicationName(platform::WorkItemRef task, const std::wstring& application) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::SetApplicationName", status);
  if (t == nullptr) return status;
  t->item->application = application;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV1::SetFlags(platform::WorkItemRef task, std::uint32_t flags) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::SetFlags", status);
  if (t == nullptr) return status;
  t->item->flags = flags;
  return com::kOk;
}

ComOr<platform::PersistFileRef> FakeTaskSchedulerV1::QueryPersistFile(platform::WorkItemRef task) {
  ComStatus status;
  Object* t = FindTask(task, "ITask::QueryInterface(IPersistFile)", status);
  if (t == nullptr) return Failed<platform::PersistFileRef>(status);
  return Hand<platform::PersistFileRef>("IPersistFile", t->name, t->item);
}

ComStatus FakeTaskSchedulerV1::GetTriggerRecord(platform::TaskTriggerRef trigger,
                                                platform::TaskTriggerRecord& record) {
  auto f = com_.Enter("ITaskTrigger::GetTrigger");
  Object* t = Find(trigger.object, "ITaskTrigger");
  if (f) return f->status;
  if (t == nullptr) return com::kPointer;
  // The caller states the size of its record; the platform refuses others.
  if (record.cbTriggerSize != platform::kTaskTriggerSize) return com::kInvalidArgument;
  record = t->item->triggers[t->index];
  return com::kOk;
}

ComStatus FakeTaskSchedulerV1::SetTriggerRecord(platform::TaskTriggerRef trigger,
                                                const platform::TaskTriggerRecord& record) {
  auto f = com_.Enter("ITaskTrigger::SetTrigger");
  Object* t = Find(trigger.object, "ITaskTrigger");
  if (f) return f->status;
  if (t == nullptr) return com::kPointer;
  if (record.cbTriggerSize != platform::kTaskTriggerSize) return com::kInvalidArgument;
  t->item->triggers[t->index] = record;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV1::Save(platform::PersistFileRef persist, const wchar_t* fileName, bool remember) {
  auto f = com_.Enter("IPersistFile::Save");
  Object* p = Find(persist.object, "IPersistFile");
  if (f) return f->status;
  if (p == nullptr) return com::kPointer;
  if (fileName != nullptr) com_.violations.push_back("Save with a file name");
  if (!remember) com_.violations.push_back("Save without remember");
  workItems[p->name] = *p->item;
  ++saves;
  return com::kOk;
}
