#include "task/task_definition_v2.h"

#include "platform/com_runtime.h"
#include "platform/seam.h"
#include "platform/secure_random.h"
#include "platform/task_scheduler_v2.h"
#include "support/localized_text.h"
#include "support/log_messages.h"
#include "task/com_session.h"
#include "task/task_names.h"

namespace {

using platform::ComFailed;
using Scheduler = platform::TaskSchedulerV2;
template <class Tag>
using Owned = platform::ComOwner<Scheduler, Tag>;
namespace v2 = platform::v2;

// The registration of the task, the same for a new and an updated task: the
// SYSTEM account through an interactive token, no password, an empty
// security descriptor.
constexpr wchar_t kSystemAccount[] = L"SYSTEM";
constexpr wchar_t kEmptySecurityDescriptor[] = L"";

platform::ComOr<platform::RegisteredTaskRef> Register(Scheduler& scheduler, const Owned<v2::FolderTag>& folder,
                                                      const Owned<v2::DefinitionTag>& definition) {
  return scheduler.RegisterTaskDefinition(folder.Get(), kScheduledTaskName, definition.Get(),
                                          platform::kTaskCreateOrUpdate, kSystemAccount,
                                          platform::kTaskLogonInteractiveToken, kEmptySecurityDescriptor);
}

// Each failure below logs its code and returns false; the owners then release
// what is still held, the object in hand first, then the definition, the
// folder and the service, and the session ends COM last.
bool Fail(MessageCode code) {
  LogCodeWithLastError(code);
  return false;
}

// The task exists: its first trigger repeats every hour from now on, and the
// rest of its definition stays as it was.
bool UpdateRegisteredTask(Scheduler& scheduler, ComSession& session, Owned<v2::ServiceTag>& service,
                          Owned<v2::FolderTag>& folder, Owned<v2::RegisteredTaskTag> existing) {
  auto gotDefinition = scheduler.GetDefinition(existing.Get());
  Owned<v2::DefinitionTag> definition = Take(scheduler, gotDefinition);
  existing.Reset();
  if (gotDefinition.Failed()) return Fail(MessageCode::V2UpdateDefinitionFailed);

  auto gotTriggers = scheduler.GetTriggers(definition.Get());
  Owned<v2::TriggerCollectionTag> triggers = Take(scheduler, gotTriggers);
  if (gotTriggers.Failed()) return Fail(MessageCode::V2UpdateTriggersFailed);

  auto count = scheduler.GetTriggerCount(triggers.Get());
  if (count.Failed()) return Fail(MessageCode::V2UpdateCountFailed);
  if (count.value < 1) return Fail(MessageCode::V2UpdateNoTrigger);

  // The collection counts from 1.
  auto gotTrigger = scheduler.GetTriggerItem(triggers.Get(), 1);
  Owned<v2::TriggerTag> trigger = Take(scheduler, gotTrigger);
  triggers.Reset();
  if (gotTrigger.Failed()) return Fail(MessageCode::V2UpdateFirstTriggerFailed);

  auto gotPattern = scheduler.GetTriggerRepetition(trigger.Get());
  Owned<v2::RepetitionPatternTag> pattern = Take(scheduler, gotPattern);
  trigger.Reset();
  if (gotPattern.Failed()) return Fail(MessageCode::V2UpdateRepetitionFailed);

  const platform::ComStatus interval = scheduler.PutRepetitionInterval(pattern.Get(), L"PT1H");
  pattern.Reset();
  if (ComFailed(interval)) return Fail(MessageCode::V2UpdateIntervalFailed);

  auto gotRegistered = Register(scheduler, folder, definition);
  Owned<v2::RegisteredTaskTag> registered = Take(scheduler, gotRegistered);
  definition.Reset();
  if (gotRegistered.Failed()) return Fail(MessageCode::V2UpdateRegisterFailed);

  LogCode(MessageCode::V2TaskUpdated);
  folder.Reset();
  registered.Reset();
  service.Reset();
  session.End();
  return true;
}

// The task does not exist (or could not be read): a new definition is built
// and registered. Some properties are wishes: when one cannot be set the
// failure is logged and the creation goes on without it.
bool CreateNewTask(Scheduler& scheduler, ComSession& session, Owned<v2::ServiceTag>& service,
                   Owned<v2::FolderTag>& folder, const std::wstring& executablePath) {
  auto gotDefinition = scheduler.NewTask(service.Get());
  Owned<v2::DefinitionTag> definition = Take(scheduler, gotDefinition);
  service.Reset();
  if (gotDefinition.Failed()) return Fail(MessageCode::V2NewTaskFailed);

  {
    auto gotSettings = scheduler.GetSettings(definition.Get());
    Owned<v2::SettingsTag> settings = Take(scheduler, gotSettings);
    if (gotSettings.Failed()) return Fail(MessageCode::V2SettingsFailed);
    if (ComFailed(scheduler.PutCompatibility(settings.Get(), platform::kTaskCompatibilityV1))) {
      LogCodeWithLastError(MessageCode::V2CompatibilityFailed);
    }
    if (ComFailed(scheduler.PutDisallowStartIfOnBatteries(settings.Get(), false))) {
      LogCodeWithLastError(MessageCode::V2BatteriesFailed);
    }
    if (ComFailed(scheduler.PutRunOnlyIfNetworkAvailable(settings.Get(), true))) {
      LogCodeWithLastError(MessageCode::V2NetworkFailed);
    }
  }

  {
    auto gotInfo = scheduler.GetRegistrationInfo(definition.Get());
    Owned<v2::RegistrationInfoTag> info = Take(scheduler, gotInfo);
    if (gotInfo.Failed()) return Fail(MessageCode::V2RegistrationInfoFailed);
    if (ComFailed(scheduler.PutAuthor(info.Get(), kScheduledTaskAuthor))) return Fail(MessageCode::V2AuthorFailed);
    if (ComFailed(scheduler.PutDescription(info.Get(), LoadLocalizedText(kTaskDescriptionText)))) {
      return Fail(MessageCode::V2DescriptionFailed);
    }
  }

  {
    auto gotTriggers = scheduler.GetTriggers(definition.Get());
    Owned<v2::TriggerCollectionTag> triggers = Take(scheduler, gotTriggers);
    if (gotTriggers.Failed()) return Fail(MessageCode::V2TriggersFailed);

    auto gotTrigger = scheduler.CreateTrigger(triggers.Get(), platform::kTaskTriggerDaily);
    Owned<v2::TriggerTag> trigger = Take(scheduler, gotTrigger);
    triggers.Reset();
    if (gotTrigger.Failed()) return Fail(MessageCode::V2TriggerCreateFailed);

    auto gotDaily = scheduler.QueryDailyTrigger(trigger.Get());
    Owned<v2::DailyTriggerTag> daily = Take(scheduler, gotDaily);
    trigger.Reset();
    if (gotDaily.Failed()) return Fail(MessageCode::V2DailyTriggerFailed);

    if (ComFailed(scheduler.PutDailyTriggerId(daily.Get(), L"UpdateTrigger"))) {
      LogCodeWithLastError(MessageCode::V2TriggerIdFailed);
    }
    if (ComFailed(scheduler.PutDailyTriggerStartBoundary(daily.Get(), MakeStartBoundary()))) {
      LogCodeWithLastError(MessageCode::V2StartBoundaryFailed);
    }
    if (ComFailed(scheduler.PutDaysInterval(daily.Get(), 1))) return Fail(MessageCode::V2DaysIntervalFailed);

    auto gotPattern = scheduler.GetDailyTriggerRepetition(daily.Get());
    Owned<v2::RepetitionPatternTag> pattern = Take(scheduler, gotPattern);
    daily.Reset();
    if (gotPattern.Failed()) return Fail(MessageCode::V2RepetitionFailed);
    if (ComFailed(scheduler.PutRepetitionDuration(pattern.Get(), L"P1D"))) return Fail(MessageCode::V2DurationFailed);
    const platform::ComStatus interval = scheduler.PutRepetitionInterval(pattern.Get(), L"PT1H");
    pattern.Reset();
    if (ComFailed(interval)) return Fail(MessageCode::V2IntervalFailed);
  }

  {
    auto gotActions = scheduler.GetActions(definition.Get());
    Owned<v2::ActionCollectionTag> actions = Take(scheduler, gotActions);
    if (gotActions.Failed()) return Fail(MessageCode::V2ActionsFailed);

    auto gotAction = scheduler.CreateAction(actions.Get(), platform::kTaskActionExec);
    Owned<v2::ActionTag> action = Take(scheduler, gotAction);
    actions.Reset();
    if (gotAction.Failed()) return Fail(MessageCode::V2ActionCreateFailed);

    auto gotExec = scheduler.QueryExecAction(action.Get());
    Owned<v2::ExecActionTag> exec = Take(scheduler, gotExec);
    action.Reset();
    if (gotExec.Failed()) return Fail(MessageCode::V2ExecActionFailed);

    const platform::ComStatus path = scheduler.PutExecPath(exec.Get(), executablePath);
    exec.Reset();
    if (ComFailed(path)) return Fail(MessageCode::V2PathFailed);
  }

  auto gotRegistered = Register(scheduler, folder, definition);
  Owned<v2::RegisteredTaskTag> registered = Take(scheduler, gotRegistered);
  if (gotRegistered.Failed()) return Fail(MessageCode::V2RegisterFailed);

  LogCode(MessageCode::V2TaskCreated);
  folder.Reset();
  definition.Reset();
  registered.Reset();
  session.End();
  return true;
}

}  // namespace

std::wstring MakeStartBoundary() {
  platform::SecureRandom& random = platform::Seam<platform::SecureRandom>::Get();
  const platform::StepOr<std::uint32_t> first = random.RandS();
  const std::uint32_t tens = first.ok ? first.value % 6 : 0;
  const platform::StepOr<std::uint32_t> second = random.RandS();
  const std::uint32_t units = second.ok ? second.value % 10 : 0;

  std::wstring boundary = L"2000-01-01T00:00:00Z";
  boundary[14] = static_cast<wchar_t>(L'0' + tens);
  boundary[15] = static_cast<wchar_t>(L'0' + units);
  return boundary;
}

bool CreateTaskV2(const std::wstring& executablePath) {
  platform::ComRuntime& com = platform::Seam<platform::ComRuntime>::Get();
  Scheduler& scheduler = platform::Seam<Scheduler>::Get();

  if (ComFailed(com.CoInitializeExMultithreaded())) return Fail(MessageCode::V2CoInitializeFailed);
  ComSession session(com);
  if (ComFailed(com.CoInitializeSecurity(platform::kAuthenticationLevelPacketPrivacy,
                                         platform::kImpersonationLevelImpersonate, platform::kCapabilitiesNone))) {
    return Fail(MessageCode::V2SecurityFailed);
  }

  auto gotService = scheduler.CreateTaskService();
  Owned<v2::ServiceTag> service = Take(scheduler, gotService);
  if (gotService.Failed()) return Fail(MessageCode::V2ServiceFailed);
  if (ComFailed(scheduler.Connect(service.Get()))) return Fail(MessageCode::V2ConnectFailed);

  auto gotFolder = scheduler.GetFolder(service.Get(), kRootTaskFolder);
  Owned<v2::FolderTag> folder = Take(scheduler, gotFolder);
  if (gotFolder.Failed()) return Fail(MessageCode::V2FolderFailed);

  // Whatever GetTask reports, a task object in hand means the task exists.
  Owned<v2::RegisteredTaskTag> existing = Take(scheduler, scheduler.GetTask(folder.Get(), kScheduledTaskName));
  if (existing) return UpdateRegisteredTask(scheduler, session, service, folder, std::move(existing));
  return CreateNewTask(scheduler, session, service, folder, executablePath);
}
