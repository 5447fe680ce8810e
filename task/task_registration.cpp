#include "task/task_registration.h"

#include <memory>
#include <new>

#include "platform/com_runtime.h"
#include "platform/os_version.h"
#include "platform/seam.h"
#include "platform/task_scheduler_v1.h"
#include "platform/task_scheduler_v2.h"
#include "service/service_controller.h"
#include "support/log_messages.h"
#include "task/com_session.h"
#include "task/task_definition_v1.h"
#include "task/task_definition_v2.h"
#include "task/task_names.h"
#include "update/schedule_state.h"

namespace {
constexpr std::uint32_t kPlatformWin32Nt = 2;  // VER_PLATFORM_WIN32_NT
constexpr std::uint32_t kVistaMajorVersion = 6;
}  // namespace

SchedulerVersion CurrentSchedulerVersion() {
  const platform::OsVersion version = platform::Seam<platform::OsVersionQuery>::Get().Query();
  return version.platformId == kPlatformWin32Nt && version.major >= kVistaMajorVersion ? SchedulerVersion::kVersion2
                                                                                        : SchedulerVersion::kVersion1;
}

ScheduledTaskCreator::ScheduledTaskCreator(std::wstring path)
    : executablePath(std::move(path)), schedulerVersion(CurrentSchedulerVersion()) {}

bool ScheduledTaskCreator::Create() {
  return schedulerVersion == SchedulerVersion::kVersion1 ? CreateTaskV1(executablePath) : CreateTaskV2(executablePath);
}

bool CreateDefaultTask(const ServiceController& controller) {
  // A fresh state: no attempts yet, and a check due at the service's next run.
  if (WriteUpdateAttempts(0) && WriteLastUpdateCheck(true)) WriteCheckFrequency();

  std::unique_ptr<ScheduledTaskCreator> creator;
  try {
    creator = std::make_unique<ScheduledTaskCreator>(controller.ExecutablePath());
  } catch (const std::bad_alloc&) {
    return false;
  }
  return creator->Create();
}

void DeleteScheduledTask() {
  if (DeleteUpdateAttempts() && DeleteLastUpdateCheck()) DeleteCheckFrequency();
  if (CurrentSchedulerVersion() == SchedulerVersion::kVersion2) {
    DeleteTaskV2();
  } else {
    DeleteTaskV1();
  }
}

void DeleteTaskV1() {
  platform::ComRuntime& com = platform::Seam<platform::ComRuntime>::Get();
  platform::TaskSchedulerV1& scheduler = platform::Seam<platform::TaskSchedulerV1>::Get();

  if (platform::ComFailed(com.CoInitialize())) {
    LogCodeWithLastError(MessageCode::DeleteV1CoInitializeFailed);
    return;
  }
  ComSession session(com);
  auto gotScheduler = scheduler.CreateTaskScheduler();
  auto taskScheduler = Take(scheduler, gotScheduler);
  if (gotScheduler.Failed()) {
    taskScheduler.Reset();
    session.End();
    LogCodeWithLastError(MessageCode::DeleteV1SchedulerFailed);
    return;
  }
  // A work item that does not exist is no error: the result is not looked at.
  scheduler.Delete(taskScheduler.Get(), kScheduledTaskName);
}

void DeleteTaskV2() {
  platform::ComRuntime& com = platform::Seam<platform::ComRuntime>::Get();
  platform::TaskSchedulerV2& scheduler = platform::Seam<platform::TaskSchedulerV2>::Get();

  if (platform::ComFailed(com.CoInitializeExMultithreaded())) {
    LogCodeWithLastError(MessageCode::DeleteV2CoInitializeFailed);
    return;
  }
  // From here on each failure is logged first; then the owners release what
  // is held and the session ends COM.
  ComSession session(com);
  if (platform::ComFailed(com.CoInitializeSecurity(platform::kAuthenticationLevelPacketPrivacy,
                                                   platform::kImpersonationLevelImpersonate,
                                                   platform::kCapabilitiesNone))) {
    LogCodeWithLastError(MessageCode::DeleteV2SecurityFailed);
    return;
  }
  auto gotService = scheduler.CreateTaskService();
  auto service = Take(scheduler, gotService);
  if (gotService.Failed()) {
    LogCodeWithLastError(MessageCode::DeleteV2ServiceFailed);
    return;
  }
  if (platform::ComFailed(scheduler.Connect(service.Get()))) {
    LogCodeWithLastError(MessageCode::DeleteV2ConnectFailed);
    return;
  }
  auto gotFolder = scheduler.GetFolder(service.Get(), kRootTaskFolder);
  auto folder = Take(scheduler, gotFolder);
  if (gotFolder.Failed()) {
    LogCodeWithLastError(MessageCode::DeleteV2FolderFailed);
    return;
  }
  // A task that does not exist is no error: the result is not looked at.
  scheduler.DeleteTask(folder.Get(), kScheduledTaskName);
  folder.Reset();
  service.Reset();
}
