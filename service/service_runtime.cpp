#include "service/service_runtime.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "config/update_settings.h"
#include "platform/seam.h"
#include "platform/service_control.h"
#include "service/service_controller.h"
#include "support/log_messages.h"
#include "update/installed_version.h"
#include "update/update_cycle.h"

UpdateService* ProcessUpdateService = nullptr;

namespace {

namespace scm = platform::scm;

platform::ServiceHost& Host() { return platform::Seam<platform::ServiceHost>::Get(); }

// The service status record, its checkpoint counter and the status handle,
// shared by the service thread and the control handler. Every report holds
// statusMutex from filling the record to handing it over.
std::mutex statusMutex;
platform::ServiceStatus serviceStatus;
std::uint32_t checkpointCounter = 1;
platform::ServiceStatusHandle statusHandle = platform::ServiceStatusHandle::None;

// Signalled on a stop request. The cycle does not look at it; it lives until
// the process ends. Created before RUNNING is reported, and no control is
// accepted before that, so the handler never meets it unset.
std::atomic<platform::EventHandle> StopEvent{platform::EventHandle::None};

// ReportServiceStatus with statusMutex already held.
void ReportLocked(std::uint32_t state, std::uint32_t waitHint) {
  serviceStatus.currentState = state;
  serviceStatus.controlsAccepted = state == scm::kStartPending ? scm::kAcceptNone : scm::kAcceptStop;
  serviceStatus.win32ExitCode = 0;  // NO_ERROR
  serviceStatus.checkPoint = (state == scm::kRunning || state == scm::kStopped) ? 0 : checkpointCounter++;
  serviceStatus.waitHint = waitHint;
  Host().SetStatus(statusHandle, serviceStatus);
}

}  // namespace

UpdateService::UpdateService(std::wstring executablePath) : executablePath_(std::move(executablePath)) {
  DetectOsClass();
  if (!LoadUpdateSettings()) LogCodeWithLastError(MessageCode::SettingsOutOfMemory);
}

bool RunServiceDispatcher() {
  LogCode(MessageCode::DispatcherStarting);
  if (!Host().RunDispatcher(kServiceName, ServiceMain)) {
    LogCodeWithLastError(MessageCode::DispatcherUnavailable);
    return false;
  }
  LogCode(MessageCode::DispatcherReturned);
  return true;
}

void ServiceMain(std::uint32_t /*argc*/, wchar_t** /*argv*/) {
  platform::StepOr<platform::ServiceStatusHandle> registered =
      Host().RegisterControlHandler(kServiceName, ServiceControlHandler);
  if (!registered) {
    LogCodeWithLastError(MessageCode::HandlerRegistrationFailed);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(statusMutex);
    statusHandle = registered.value;
    serviceStatus.serviceType = scm::kWin32OwnProcess;
    serviceStatus.serviceSpecificExitCode = 0;
  }
  ReportServiceStatus(scm::kStartPending, 3000);
  RunService();
}

void RunService() {
  platform::StepOr<platform::EventHandle> event = Host().CreateManualResetEvent();
  if (!event) {
    ReportServiceStatus(scm::kStopped, 0);
    return;
  }
  StopEvent.store(event.value);
  ReportServiceStatus(scm::kRunning, 0);
  if (ProcessUpdateService != nullptr) {
    // The cycle throws nothing by design. Should an allocation fail where
    // nothing expects it, the service still ends with STOPPED rather than
    // with the process torn down around a pending state.
    try {
      UpdateCycle();
    } catch (...) {
      LogCodeWithLastError(MessageCode::UnexpectedFailure);
    }
  } else {
    LogCodeWithLastError(MessageCode::ServiceObjectMissing);
  }
  ReportServiceStatus(scm::kStopped, 0);
}

void ServiceControlHandler(std::uint32_t control) {
  LogCodeWithNumber(MessageCode::ControlReceived, static_cast<std::int32_t>(control));
  if (control != scm::kControlStop) return;
  // The whole stop sequence holds the record, so that the service thread's
  // STOPPED cannot fall between its two reports, nor precede them.
  std::lock_guard<std::mutex> lock(statusMutex);
  const bool stopped = serviceStatus.currentState == scm::kStopped;
  if (!stopped) ReportLocked(scm::kStopPending, 0);
  LogCode(MessageCode::StopRequested);
  Host().SignalEvent(StopEvent.load());
  if (!stopped) ReportLocked(serviceStatus.currentState, 0);
}

void ReportServiceStatus(std::uint32_t state, std::uint32_t waitHint) {
  std::lock_guard<std::mutex> lock(statusMutex);
  ReportLocked(state, waitHint);
}
