#include "tests/fakes/fake_task_scheduler_v2.h"

using platform::ComOr;
using platform::ComStatus;
namespace com = platform::com;

struct FakeTaskSchedulerV2::Object : FakeComObject {
  using FakeComObject::FakeComObject;
  std::shared_ptr<FakeV2Definition> definition;  // the definition the object belongs to
  std::size_t index = 0;                         // its trigger or action
  std::wstring name;                             // a registered task's name
  bool connected = false;                        // a service after Connect
};

template <class Ref>
ComOr<Ref> FakeTaskSchedulerV2::Hand(const char* kind, std::shared_ptr<FakeV2Definition> definition,
                                     std::size_t index, std::wstring name) {
  auto object = std::make_unique<Object>(kind);
  object->definition = std::move(definition);
  object->index = index;
  object->name = std::move(name);
  return ComOr<Ref>{com::kOk, Ref{com_.Hand(std::move(object))}};
}

FakeTaskSchedulerV2::Object* FakeTaskSchedulerV2::Find(platform::ComObject* object, const char* kind) {
  return com_.Find<Object>(object, kind);
}

namespace {
template <class Ref>
ComOr<Ref> Failed(ComStatus status) {
  return ComOr<Ref>{status, Ref{}};
}
}  // namespace

ComOr<platform::TaskServiceRef> FakeTaskSchedulerV2::CreateTaskService() {
  if (auto f = com_.Enter("CoCreateInstance(TaskScheduler)")) return Failed<platform::TaskServiceRef>(f->status);
  return Hand<platform::TaskServiceRef>("ITaskService");
}

ComStatus FakeTaskSchedulerV2::Connect(platform::TaskServiceRef service) {
  auto f = com_.Enter("ITaskService::Connect");
  Object* s = Find(service.object, "ITaskService");
  if (f) return f->status;
  if (s == nullptr) return com::kPointer;
  s->connected = true;
  return com::kOk;
}

ComOr<platform::TaskFolderRef> FakeTaskSchedulerV2::GetFolder(platform::TaskServiceRef service,
                                                              const std::wstring& path) {
  auto f = com_.Enter("ITaskService::GetFolder");
  Object* s = Find(service.object, "ITaskService");
  if (f) return Failed<platform::TaskFolderRef>(f->status);
  if (s == nullptr) return Failed<platform::TaskFolderRef>(com::kPointer);
  if (!s->connected) com_.violations.push_back("GetFolder before Connect");
  if (path != L"\\") return Failed<platform::TaskFolderRef>(com::kFileNotFound);
  return Hand<platform::TaskFolderRef>("ITaskFolder");
}

ComOr<platform::TaskDefinitionRef> FakeTaskSchedulerV2::NewTask(platform::TaskServiceRef service) {
  auto f = com_.Enter("ITaskService::NewTask");
  Object* s = Find(service.object, "ITaskService");
  if (f) return Failed<platform::TaskDefinitionRef>(f->status);
  if (s == nullptr) return Failed<platform::TaskDefinitionRef>(com::kPointer);
  return Hand<platform::TaskDefinitionRef>("ITaskDefinition", std::make_shared<FakeV2Definition>());
}

ComOr<platform::RegisteredTaskRef> FakeTaskSchedulerV2::GetTask(platform::TaskFolderRef folder,
                                                                const std::wstring& path) {
  auto f = com_.Enter("ITaskFolder::GetTask");
  Object* d = Find(folder.object, "ITaskFolder");
  if (f) return Failed<platform::RegisteredTaskRef>(f->status);
  if (d == nullptr) return Failed<platform::RegisteredTaskRef>(com::kPointer);
  if (tasks.count(path) == 0) return Failed<platform::RegisteredTaskRef>(com::kFileNotFound);
  return Hand<platform::RegisteredTaskRef>("IRegisteredTask", nullptr, 0, path);
}

ComStatus FakeTaskSchedulerV2::DeleteTask(platform::TaskFolderRef folder, const std::wstring& name) {
  auto f = com_.Enter("ITaskFolder::DeleteTask");
  Object* d = Find(folder.object, "ITaskFolder");
  if (f) return f->status;
  if (d == nullptr) return com::kPointer;
  if (tasks.erase(name) == 0) return com::kFileNotFound;
  lastDeleted = name;
  return com::kOk;
}

ComOr<platform::RegisteredTaskRef> FakeTaskSchedulerV2::RegisterTaskDefinition(
    platform::TaskFolderRef folder, const std::wstring& path, platform::TaskDefinitionRef definition,
    std::int32_t flags, const std::wstring& userId, std::int32_t logonType, const std::wstring& sddl) {
  auto f = com_.Enter("ITaskFolder::RegisterTaskDefinition");
  Object* d = Find(folder.object, "ITaskFolder");
  Object* def = Find(definition.object, "ITaskDefinition");
  if (f) return Failed<platform::RegisteredTaskRef>(f->status);
  if (d == nullptr || def == nullptr) return Failed<platform::RegisteredTaskRef>(com::kPointer);
  FakeV2Registration& r = tasks[path];
  r.definition = *def->definition;
  r.flags = flags;
  r.userId = userId;
  r.logonType = logonType;
  r.sddl = sddl;
  ++r.registrations;
  return Hand<platform::RegisteredTaskRef>("IRegisteredTask", nullptr, 0, path);
}

ComOr<platform::TaskDefinitionRef> FakeTaskSchedulerV2::GetDefinition(platform::RegisteredTaskRef task) {
  auto f = com_.Enter("IRegisteredTask::get_Definition");
  Object* t = Find(task.object, "IRegisteredTask");
  if (f) return Failed<platform::TaskDefinitionRef>(f->status);
  if (t == nullptr || tasks.count(t->name) == 0) return Failed<platform::TaskDefinitionRef>(com::kPointer);
  // A copy: changes reach the registered task only when it is registered again.
  return Hand<platform::TaskDefinitionRef>("ITaskDefinition",
                                           std::make_shared<FakeV2Definition>(tasks[t->name].definition));
}

#define VEXEL_DEFINITION_GETTER(Method, Step, Ref, Kind)                              \
  ComOr<platform::Ref> FakeTaskSchedulerV2::Method(platform::TaskDefinitionRef definition) { \
    auto f = com_.Enter(Step);                                                         \
    Object* def = Find(definition.object, "ITaskDefinition");                          \
    if (f) return Failed<platform::Ref>(f->status);                                    \
    if (def == nullptr) return Failed<platform::Ref>(com::kPointer);                   \
    return Hand<platform::Ref>(Kind, def->definition);                                 \
  }
VEXEL_DEFINITION_GETTER(GetSettings, "ITaskDefinition::get_Settings", TaskSettingsRef, "ITaskSettings")
VEXEL_DEFINITION_GETTER(GetRegistrationInfo, "ITaskDefinition::get_RegistrationInfo", RegistrationInfoRef,
                        "IRegistrationInfo")
VEXEL_DEFINITION_GETTER(GetTriggers, "ITaskDefinition::get_Triggers", TriggerCollectionRef, "ITriggerCollection")
VEXEL_DEFINITION_GETTER(GetActions, "ITaskDefinition::get_Actions", ActionCollectionRef, "IActionCollection")
#undef VEXEL_DEFINITION_GETTER

ComStatus FakeTaskSchedulerV2::PutCompatibility(platform::TaskSettingsRef settings, std::int32_t compatibility) {
  auto f = com_.Enter("ITaskSettings::put_Compatibility");
  Object* s = Find(settings.object, "ITaskSettings");
  if (f) return f->status;
  if (s == nullptr) return com::kPointer;
  s->definition->compatibility = compatibility;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutDisallowStartIfOnBatteries(platform::TaskSettingsRef settings, bool disallow) {
  auto f = com_.Enter("ITaskSettings::put_DisallowStartIfOnBatteries");
  Object* s = Find(settings.object, "ITaskSettings");
  if (f) return f->status;
  if (s == nullptr) return com::kPointer;
  s->definition->disallowStartIfOnBatteries = disallow;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutRunOnlyIfNetworkAvailable(platform::TaskSettingsRef settings, bool runOnly) {
  auto f = com_.Enter("ITaskSettings::put_RunOnlyIfNetworkAvailable");
  Object* s = Find(settings.object, "ITaskSettings");
  if (f) return f->status;
  if (s == nullptr) return com::kPointer;
  s->definition->runOnlyIfNetworkAvailable = runOnly;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutAuthor(platform::RegistrationInfoRef info, const std::wstring& author) {
  auto f = com_.Enter("IRegistrationInfo::put_Author");
  Object* i = Find(info.object, "IRegistrationInfo");
  if (f) return f->status;
  if (i == nullptr) return com::kPointer;
  i->definition->author = author;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutDescription(platform::RegistrationInfoRef info, const std::wstring& description) {
  auto f = com_.Enter("IRegistrationInfo::put_Description");
  Object* i = Find(info.object, "IRegistrationInfo");
  if (f) return f->status;
  if (i == nullptr) return com::kPointer;
  i->definition->description = description;
  return com::kOk;
}

ComOr<std::int32_t> FakeTaskSchedulerV2::GetTriggerCount(platform::TriggerCollectionRef triggers) {
  auto f = com_.Enter("ITriggerCollection::get_Count");
  Object* c = Find(triggers.object, "ITriggerCollection");
  if (f) return ComOr<std::int32_t>{f->status, 0};
  if (c == nullptr) return ComOr<std::int32_t>{com::kPointer, 0};
  return ComOr<std::int32_t>{com::kOk, static_cast<std::int32_t>(c->definition->triggers.size())};
}

ComOr<platform::TriggerRef> FakeTaskSchedulerV2::GetTriggerItem(platform::TriggerCollectionRef triggers,
                                                                std::int32_t index) {
  auto f = com_.Enter("ITriggerCollection::get_Item");
  Object* c = Find(triggers.object, "ITriggerCollection");
  if (f) return Failed<platform::TriggerRef>(f->status);
  if (c == nullptr) return Failed<platform::TriggerRef>(com::kPointer);
  // The collection counts from 1.
  if (index < 1 || static_cast<std::size_t>(index) > c->definition->triggers.size()) {
    return Failed<platform::TriggerRef>(com::kInvalidArgument);
  }
  return Hand<platform::TriggerRef>("ITrigger", c->definition, static_cast<std::size_t>(index - 1));
}

ComOr<platform::TriggerRef> FakeTaskSchedulerV2::CreateTrigger(platform::TriggerCollectionRef triggers,
                                                               std::int32_t type) {
  auto f = com_.Enter("ITriggerCollection::Create");
  Object* c = Find(triggers.object, "ITriggerCollection");
  if (f) return Failed<platform::TriggerRef>(f->status);
  if (c == nullptr) return Failed<platform::TriggerRef>(com::kPointer);
  FakeV2Trigger trigger;
  trigger.type = type;
  c->definition->triggers.push_back(trigger);
  return Hand<platform::TriggerRef>("ITrigger", c->definition, c->definition->triggers.size() - 1);
}

ComOr<platform::RepetitionPatternRef> FakeTaskSchedulerV2::GetTriggerRepetition(platform::TriggerRef trigger) {
  auto f = com_.Enter("ITrigger::get_Repetition");
  Object* t = Find(trigger.object, "ITrigger");
  if (f) return Failed<platform::RepetitionPatternRef>(f->status);
  if (t == nullptr) return Failed<platform::RepetitionPatternRef>(com::kPointer);
  return Hand<platform::RepetitionPatternRef>("IRepetitionPattern", t->definition, t->index);
}

ComOr<platform::DailyTriggerRef> FakeTaskSchedulerV2::QueryDailyTrigger(platform::TriggerRef trigger) {
  auto f = com_.Enter("ITrigger::QueryInterface(IDailyTrigger)");
  Object* t = Find(trigger.object, "ITrigger");
  if (f) return Failed<platform::DailyTriggerRef>(f->status);
  if (t == nullptr) return Failed<platform::DailyTriggerRef>(com::kPointer);
  if (t->definition->triggers[t->index].type != platform::kTaskTriggerDaily) {
    return Failed<platform::DailyTriggerRef>(static_cast<ComStatus>(0x80004002u));  // E_NOINTERFACE
  }
  return Hand<platform::DailyTriggerRef>("IDailyTrigger", t->definition, t->index);
}

ComStatus FakeTaskSchedulerV2::PutDailyTriggerId(platform::DailyTriggerRef trigger, const std::wstring& id) {
  auto f = com_.Enter("IDailyTrigger::put_Id");
  Object* t = Find(trigger.object, "IDailyTrigger");
  if (f) return f->status;
  if (t == nullptr) return com::kPointer;
  t->definition->triggers[t->index].id = id;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutDailyTriggerStartBoundary(platform::DailyTriggerRef trigger,
                                                            const std::wstring& boundary) {
  auto f = com_.Enter("IDailyTrigger::put_StartBoundary");
  Object* t = Find(trigger.object, "IDailyTrigger");
  if (f) return f->status;
  if (t == nullptr) return com::kPointer;
  t->definition->triggers[t->index].startBoundary = boundary;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutDaysInterval(platform::DailyTriggerRef trigger, std::int16_t days) {
  auto f = com_.Enter("IDailyTrigger::put_DaysInterval");
  Object* t = Find(trigger.object, "IDailyTrigger");
  if (f) return f->status;
  if (t == nullptr) return com::kPointer;
  t->definition->triggers[t->index].daysInterval = days;
  return com::kOk;
}

ComOr<platform::RepetitionPatternRef> FakeTaskSchedulerV2::GetDailyTriggerRepetition(platform::DailyTriggerRef trigger) {
  auto f = com_.Enter("IDailyTrigger::get_Repetition");
  Object* t = Find(trigger.object, "IDailyTrigger");
  if (f) return Failed<platform::RepetitionPatternRef>(f->status);
  if (t == nullptr) return Failed<platform::RepetitionPatternRef>(com::kPointer);
  return Hand<platform::RepetitionPatternRef>("IRepetitionPattern", t->definition, t->index);
}

ComStatus FakeTaskSchedulerV2::PutRepetitionDuration(platform::RepetitionPatternRef pattern,
                                                     const std::wstring& duration) {
  auto f = com_.Enter("IRepetitionPattern::put_Duration");
  Object* p = Find(pattern.object, "IRepetitionPattern");
  if (f) return f->status;
  if (p == nullptr) return com::kPointer;
  p->definition->triggers[p->index].duration = duration;
  return com::kOk;
}

ComStatus FakeTaskSchedulerV2::PutRepetitionInterval(platform::RepetitionPatternRef pattern,
                                                     const std::wstring& interval) {
  auto f = com_.Enter("IRepetitionPattern::put_Interval");
  Object* p = Find(pattern.object, "IRepetitionPattern");
  if (f) return f->status;
  if (p == nullptr) return com::kPointer;
  p->definition->triggers[p->index].interval = interval;
  return com::kOk;
}

ComOr<platform::ActionRef> FakeTaskSchedulerV2::CreateAction(platform::ActionCollectionRef actions,
                                                             std::int32_t type) {
  auto f = com_.Enter("IActionCollection::Create");
  Object* c = Find(actions.object, "IActionCollection");
  if (f) return Failed<platform::ActionRef>(f->status);
  if (c == nullptr) return Failed<platform::ActionRef>(com::kPointer);
  FakeV2Action action;
  action.type = type;
  c->definition->actions.push_back(action);
  return Hand<platform::ActionRef>("IAction", c->definition, c->definition->actions.size() - 1);
}

ComOr<platform::ExecActionRef> FakeTaskSchedulerV2::QueryExecAction(platform::ActionRef action) {
  auto f = com_.Enter("IAction::QueryInterface(IExecAction)");
  Object* a = Find(action.object, "IAction");
  if (f) return Failed<platform::ExecActionRef>(f->status);
  if (a == nullptr) return Failed<platform::ExecActionRef>(com::kPointer);
  if (a->definition->actions[a->index].type != platform::kTaskActionExec) {
    return Failed<platform::ExecActionRef>(static_cast<ComStatus>(0x80004002u));  // E_NOINTERFACE
  }
  return Hand<platform::ExecActionRef>("IExecAction", a->definition, a->index);
}

ComStatus FakeTaskSchedulerV2::PutExecPath(platform::ExecActionRef action, const std::wstring& path) {
  auto f = com_.Enter("IExecAction::put_Path");
  Object* a = Find(action.object, "IExecAction");
  if (f) return f->status;
  if (a == nullptr) return com::kPointer;
  a->definition->actions[a->index].path = path;
  return com::kOk;
}
