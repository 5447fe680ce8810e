#include "service/service_controller.h"

#include "platform/last_error.h"
#include "platform/seam.h"
#include "platform/service_control.h"
#include "support/localized_text.h"
#include "support/log_messages.h"
#include "task/task_registration.h"

namespace {

using platform::ScHandle;
namespace scm = platform::scm;

platform::ServiceControlManager& Manager() { return platform::Seam<platform::ServiceControlManager>::Get(); }

// Owns one manager or service handle. Close() closes it at the point the
// operation chooses; the destructor closes what is left (when an exception
// passes) and keeps the thread's last error as it found it.
class ScHandleOwner {
 public:
  ScHandleOwner() = default;
  explicit ScHandleOwner(ScHandle handle) : handle_(handle) {}
  ~ScHandleOwner() {
    if (handle_ == ScHandle::None) return;
    const platform::ErrorNumber saved = platform::LastError();
    Close();
    platform::SetLastError(saved);
  }
  ScHandleOwner(const ScHandleOwner&) = delete;
  ScHandleOwner& operator=(const ScHandleOwner&) = delete;

  void Reset(ScHandle handle) {
    Close();
    handle_ = handle;
  }
  ScHandle Get() const { return handle_; }
  void Close() {
    if (handle_ == ScHandle::None) return;
    const ScHandle handle = handle_;
    handle_ = ScHandle::None;
    Manager().CloseServiceHandle(handle);
  }

 private:
  ScHandle handle_ = ScHandle::None;
};

// The manager and one of its services, opened together and closed service
// first, then manager.
class OpenedService {
 public:
  // Opens the manager with `managerAccess`, then the service with
  // `serviceAccess`. On failure logs `managerFailed` or `serviceFailed` with
  // the last error read right after the failing call, closes what was
  // opened and returns false. `logServiceFailure` false opens silently.
  bool Open(const std::wstring& serviceName, std::uint32_t managerAccess, std::uint32_t serviceAccess,
            MessageCode managerFailed, MessageCode serviceFailed, bool logServiceFailure = true) {
    platform::StepOr<ScHandle> manager = Manager().OpenManager(managerAccess);
    if (!manager) {
      LogCodeWithLastError(managerFailed);
      return false;
    }
    manager_.Reset(manager.value);
    platform::StepOr<ScHandle> service = Manager().OpenNamedService(manager_.Get(), serviceName, serviceAccess);
    if (!service) {
      if (logServiceFailure) LogCodeWithLastError(serviceFailed);
      manager_.Close();
      return false;
    }
    service_.Reset(service.value);
    return true;
  }

  ScHandle Service() const { return service_.Get(); }

  void Close() {
    service_.Close();
    manager_.Close();
  }

 private:
  // Declared manager first, so that the destructors close the service first.
  ScHandleOwner manager_;
  ScHandleOwner service_;
};

// Logs the success code, or the failure code with the last error read now.
bool Report(bool ok, MessageCode success, MessageCode failure) {
  if (ok) {
    LogCode(success);
  } else {
    LogCodeWithLastError(failure);
  }
  return ok;
}

}  // namespace

std::wstring ServiceController::RegisteredBinaryPath() const {
  if (executablePath_.find(L' ') == std::wstring::npos) return executablePath_;
  return L"\"" + executablePath_ + L"\"";
}

bool ServiceController::Create() {
  ScHandleOwner manager;
  {
    platform::StepOr<ScHandle> opened = Manager().OpenManager(scm::kManagerCreateService);
    if (!opened) {
      LogCodeWithLastError(MessageCode::CreateOpenManagerFailed);
      return false;
    }
    manager.Reset(opened.value);
  }
  platform::ServiceRegistration registration;
  registration.serviceName = serviceName_;
  registration.displayName = displayName_;
  registration.desiredAccess = scm::kServiceStart | scm::kServiceStop;
  registration.serviceType = scm::kWin32OwnProcess;
  registration.startType = scm::kDemandStart;
  registration.errorControl = scm::kErrorNormal;
  registration.binaryPathName = RegisteredBinaryPath();
  platform::StepOr<ScHandle> created = Manager().CreateNewService(manager.Get(), registration);
  if (!created) {
    LogCodeWithLastError(MessageCode::CreateServiceFailed);
    manager.Close();
    return false;
  }
  ScHandleOwner service(created.value);
  LogCode(MessageCode::ServiceCreated);
  service.Close();
  manager.Close();
  return SetDescription();
}

bool ServiceController::Start() {
  OpenedService opened;
  if (!opened.Open(serviceName_, scm::kManagerAllAccess, scm::kServiceAllAccess, MessageCode::StartOpenManagerFailed,
                   MessageCode::StartOpenServiceFailed)) {
    return false;
  }
  const bool ok = Report(Manager().StartWithoutArguments(opened.Service()).ok, MessageCode::ServiceStartAccepted,
                         MessageCode::StartServiceFailed);
  opened.Close();
  return ok;
}

bool ServiceController::Stop() {
  OpenedService opened;
  if (!opened.Open(serviceName_, scm::kManagerAllAccess, scm::kServiceAllAccess, MessageCode::StopOpenManagerFailed,
                   MessageCode::StopOpenServiceFailed)) {
    return false;
  }
  const bool ok = Report(Manager().ControlService(opened.Service(), scm::kControlStop).ok,
                         MessageCode::ServiceStopAccepted, MessageCode::StopControlFailed);
  opened.Close();
  return ok;
}

bool ServiceController::Remove() {
  OpenedService opened;
  if (!opened.Open(serviceName_, scm::kManagerAllAccess, scm::kServiceAllAccess, MessageCode::RemoveOpenManagerFailed,
                   MessageCode::RemoveOpenServiceFailed)) {
    return false;
  }
  const bool ok = Report(Manager().DeleteService(opened.Service()).ok, MessageCode::ServiceMarkedForDeletion,
                         MessageCode::DeleteServiceFailed);
  opened.Close();
  return ok;
}

bool ServiceController::SetDescription() {
  OpenedService opened;
  if (!opened.Open(serviceName_, scm::kManagerAllAccess, scm::kServiceChangeConfig,
                   MessageCode::DescriptionOpenManagerFailed, MessageCode::DescriptionOpenServiceFailed)) {
    return false;
  }
  const bool ok = Manager().ChangeDescription(opened.Service(), LoadLocalizedText(kServiceDescriptionText)).ok;
  if (!ok) LogCodeWithLastError(MessageCode::DescriptionChangeFailed);
  opened.Close();
  return ok;
}

bool ServiceController::Exists() const {
  // A service that cannot be opened is simply not registered: no line.
  OpenedService opened;
  if (!opened.Open(serviceName_, scm::kManagerAllAccess, scm::kServiceAllAccess, MessageCode::ExistsOpenManagerFailed,
                   MessageCode::ExistsOpenManagerFailed, /*logServiceFailure=*/false)) {
    return false;
  }
  opened.Close();
  return true;
}

bool ServiceController::Reconfigure() {
  OpenedService opened;
  if (!opened.Open(serviceName_, scm::kManagerAllAccess, scm::kServiceChangeConfig,
                   MessageCode::ReconfigureOpenManagerFailed, MessageCode::ReconfigureOpenServiceFailed)) {
    return false;
  }
  platform::ServiceConfigChange change;
  change.serviceType = scm::kNoChange;
  change.startType = scm::kNoChange;
  change.errorControl = scm::kNoChange;
  change.binaryPathName = RegisteredBinaryPath();
  change.displayName = displayName_;
  const bool ok = Manager().ChangeConfig(opened.Service(), change).ok;
  opened.Close();
  if (!ok) {
    // The warning carries the last error as it stands after both handles
    // were closed.
    LogCodeWithLastError(MessageCode::ReconfigureChangeFailed);
    return false;
  }
  return SetDescription();
}

bool ServiceController::Install() {
  // A registered service is re-registered only when its stop control was
  // accepted; a stopped one keeps its registration as it is.
  const bool registered = Exists() ? (Stop() && Reconfigure()) : Create();
  // The task is created whatever the registration step achieved.
  const bool taskCreated = CreateDefaultTask(*this);
  return registered && taskCreated;
}
