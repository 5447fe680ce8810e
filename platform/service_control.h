// The Windows service control manager, from both sides: the operations a
// management run performs on the registration of a service, and the calls a
// service process makes to the manager while it runs as the service.
//
// Handles are opaque numbers; None is never a valid handle. Every step
// reports success or the error number of the failing call, and sets the
// thread's last error to that number when it fails. (The method names steer
// clear of the A/W macros of the Windows headers.)
#pragma once

#include <cstdint>
#include <string>

#include "platform/step.h"

namespace platform {

// A handle of the service control manager or of one service.
enum class ScHandle : std::uintptr_t { None = 0 };
// The handle through which a running service reports its status.
enum class ServiceStatusHandle : std::uintptr_t { None = 0 };
// An event object.
enum class EventHandle : std::uintptr_t { None = 0 };

// The Windows values of the access rights, types and codes the program uses.
namespace scm {
inline constexpr std::uint32_t kManagerCreateService = 0x0002;  // SC_MANAGER_CREATE_SERVICE
inline constexpr std::uint32_t kManagerAllAccess = 0xF003F;     // SC_MANAGER_ALL_ACCESS

inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;  // SERVICE_CHANGE_CONFIG
inline constexpr std::uint32_t kServiceStart = 0x0010;         // SERVICE_START
inline constexpr std::uint32_t kServiceStop = 0x0020;          // SERVICE_STOP
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;    // SERVICE_ALL_ACCESS

inline constexpr std::uint32_t kWin32OwnProcess = 0x10;  // SERVICE_WIN32_OWN_PROCESS
inline constexpr std::uint32_t kDemandStart = 3;         // SERVICE_DEMAND_START
inline constexpr std::uint32_t kErrorNormal = 1;         // SERVICE_ERROR_NORMAL
inline constexpr std::uint32_t kNoChange = 0xFFFFFFFF;   // SERVICE_NO_CHANGE

inline constexpr std::uint32_t kControlStop = 1;         // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t kControlInterrogate = 4;  // SERVICE_CONTROL_INTERROGATE

inline constexpr std::uint32_t kStopped = 1;       // SERVICE_STOPPED
inline constexpr std::uint32_t kStartPending = 2;  // SERVICE_START_PENDING
inline constexpr std::uint32_t kStopPending = 3;   // SERVICE_STOP_PENDING
inline constexpr std::uint32_t kRunning = 4;       // SERVICE_RUNNING

inline constexpr std::uint32_t kAcceptNone = 0;
inline constexpr std::uint32_t kAcceptStop = 0x1;  // SERVICE_ACCEPT_STOP

// Error numbers the manager answers with.
inline constexpr ErrorNumber kErrorServiceAlreadyRunning = 1056;   // ERROR_SERVICE_ALREADY_RUNNING
inline constexpr ErrorNumber kErrorServiceDoesNotExist = 1060;     // ERROR_SERVICE_DOES_NOT_EXIST
inline constexpr ErrorNumber kErrorServiceNotActive = 1062;        // ERROR_SERVICE_NOT_ACTIVE
inline constexpr ErrorNumber kErrorNotStartedAsService = 1063;     // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
inline constexpr ErrorNumber kErrorServiceMarkedForDelete = 1072;  // ERROR_SERVICE_MARKED_FOR_DELETE
inline constexpr ErrorNumber kErrorServiceExists = 1073;           // ERROR_SERVICE_EXISTS
}  // namespace scm

// What CreateServiceW registers. Load order group, tag, dependencies, account
// and password are always none: the service runs as LocalSystem.
struct ServiceRegistration {
  std::wstring serviceName;
  std::wstring displayName;
  std::uint32_t desiredAccess = 0;
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::uint32_t errorControl = 0;
  std::wstring binaryPathName;
};

// What ChangeServiceConfigW rewrites. Load order group, tag, dependencies,
// account and password are always none, so they stay unchanged.
struct ServiceConfigChange {
  std::uint32_t serviceType = scm::kNoChange;
  std::uint32_t startType = scm::kNoChange;
  std::uint32_t errorControl = scm::kNoChange;
  std::wstring binaryPathName;
  std::wstring displayName;
};

// The fields of SERVICE_STATUS.
struct ServiceStatus {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

// The registration side: one call per step of a management operation. The
// caller closes every handle it received with CloseServiceHandle.
class ServiceControlManager {
 public:
  virtual ~ServiceControlManager() = default;

  // OpenSCManagerW on the local machine's default database with `access`.
  // Failure: no handle; the error is the manager's (5 when the caller lacks
  // the rights).
  virtual StepOr<ScHandle> OpenManager(std::uint32_t access) = 0;

  // OpenServiceW: the service named `serviceName` with `access`. Failure: no
  // handle; 1060 when no such service is registered.
  virtual StepOr<ScHandle> OpenNamedService(ScHandle manager, const std::wstring& serviceName,
                                            std::uint32_t access) = 0;

  // CreateServiceW with the registration and no load order group, tag,
  // dependencies, account or password. Success: the new service's handle
  // with the registration's desired access. Failure: nothing registered;
  // 1073 when the name is taken.
  virtual StepOr<ScHandle> CreateNewService(ScHandle manager, const ServiceRegistration& registration) = 0;

  // StartServiceA with no arguments. Success: the manager accepted the start
  // request (the service may not be running yet). Failure: 1056 when it
  // already runs.
  virtual Step StartWithoutArguments(ScHandle service) = 0;

  // ControlService with `control`; the status it returns is not kept.
  // Success: the control was accepted; nothing waits for the service to act
  // on it. Failure: 1062 when the service is not running.
  virtual Step ControlService(ScHandle service, std::uint32_t control) = 0;

  // DeleteService. Success: the service is marked for deletion; the manager
  // removes it once every handle to it is closed.
  virtual Step DeleteService(ScHandle service) = 0;

  // ChangeServiceConfigW with the change and no load order group, tag,
  // dependencies, account or password.
  virtual Step ChangeConfig(ScHandle service, const ServiceConfigChange& change) = 0;

  // ChangeServiceConfig2W, level SERVICE_CONFIG_DESCRIPTION, with the
  // terminated `description`.
  virtual Step ChangeDescription(ScHandle service, const wchar_t* description) = 0;

  // CloseServiceHandle of a manager or service handle. None is a no-op that
  // succeeds. A failure leaves the handle closed as far as the caller cares.
  virtual Step CloseServiceHandle(ScHandle handle) = 0;
};

// The service's main function and control handler, as the dispatcher calls
// them. The arguments of the main function are those of the start request.
using ServiceMainFunction = void (*)(std::uint32_t argc, wchar_t** argv);
using ServiceControlFunction = void (*)(std::uint32_t control);

// The running side: the calls of a process that the manager started as the
// service.
class ServiceHost {
 public:
  virtual ~ServiceHost() = default;

  // StartServiceCtrlDispatcherW with one entry (`serviceName`, `serviceMain`)
  // and the terminating empty entry. Blocks: the calling thread becomes the
  // dispatcher, `serviceMain` runs on a thread of its own and each control
  // is handed to the registered handler on the calling thread. Success: the
  // service has stopped and the dispatcher returned. Failure: at once; 1063
  // when the manager did not start this process.
  virtual Step RunDispatcher(const std::wstring& serviceName, ServiceMainFunction serviceMain) = 0;

  // RegisterServiceCtrlHandlerW: `handler` receives the service's controls
  // from now on. Success: the status handle for SetStatus. Failure: no
  // handle (1063 outside a dispatcher).
  virtual StepOr<ServiceStatusHandle> RegisterControlHandler(const std::wstring& serviceName,
                                                             ServiceControlFunction handler) = 0;

  // SetServiceStatus with the status through `handle`.
  virtual Step SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;

  // CreateEventW: an unnamed manual-reset event, not signalled, with default
  // security. It is never closed: it lives until the process ends.
  virtual StepOr<EventHandle> CreateManualResetEvent() = 0;

  // SetEvent.
  virtual Step SignalEvent(EventHandle event) = 0;
};

}  // namespace platform
