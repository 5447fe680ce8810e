#include <windows.h>

#include <atomic>
#include <vector>

#include "platform/seam.h"
#include "platform/service_control.h"

namespace platform {
namespace {

static_assert(scm::kManagerCreateService == SC_MANAGER_CREATE_SERVICE);
static_assert(scm::kManagerAllAccess == SC_MANAGER_ALL_ACCESS);
static_assert(scm::kServiceChangeConfig == SERVICE_CHANGE_CONFIG);
static_assert(scm::kServiceStart == SERVICE_START);
static_assert(scm::kServiceStop == SERVICE_STOP);
static_assert(scm::kServiceAllAccess == SERVICE_ALL_ACCESS);
static_assert(scm::kWin32OwnProcess == SERVICE_WIN32_OWN_PROCESS);
static_assert(scm::kDemandStart == SERVICE_DEMAND_START);
static_assert(scm::kErrorNormal == SERVICE_ERROR_NORMAL);
static_assert(scm::kNoChange == SERVICE_NO_CHANGE);
static_assert(scm::kControlStop == SERVICE_CONTROL_STOP);
static_assert(scm::kControlInterrogate == SERVICE_CONTROL_INTERROGATE);
static_assert(scm::kStopped == SERVICE_STOPPED);
static_assert(scm::kStartPending == SERVICE_START_PENDING);
static_assert(scm::kStopPending == SERVICE_STOP_PENDING);
static_assert(scm::kRunning == SERVICE_RUNNING);
static_assert(scm::kAcceptStop == SERVICE_ACCEPT_STOP);
static_assert(scm::kErrorServiceAlreadyRunning == ERROR_SERVICE_ALREADY_RUNNING);
static_assert(scm::kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(scm::kErrorServiceNotActive == ERROR_SERVICE_NOT_ACTIVE);
static_assert(scm::kErrorNotStartedAsService == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
static_assert(scm::kErrorServiceMarkedForDelete == ERROR_SERVICE_MARKED_FOR_DELETE);
static_assert(scm::kErrorServiceExists == ERROR_SERVICE_EXISTS);

SC_HANDLE Native(ScHandle h) { return reinterpret_cast<SC_HANDLE>(static_cast<std::uintptr_t>(h)); }
ScHandle Opaque(SC_HANDLE h) { return static_cast<ScHandle>(reinterpret_cast<std::uintptr_t>(h)); }

Step FromBool(BOOL ok) { return ok ? Step::Success() : Step::Failure(::GetLastError()); }

StepOr<ScHandle> FromHandle(SC_HANDLE h) {
  if (h == nullptr) return StepOr<ScHandle>::Failure(::GetLastError());
  return StepOr<ScHandle>::Success(Opaque(h));
}

// The Windows functions want writable text for some of their inputs.
std::vector<wchar_t> Writable(const std::wstring& text) {
  std::vector<wchar_t> buffer(text.begin(), text.end());
  buffer.push_back(L'\0');
  return buffer;
}

class Win32ServiceControlManager final : public ServiceControlManager {
 public:
  StepOr<ScHandle> OpenManager(std::uint32_t access) override {
    return FromHandle(::OpenSCManagerW(nullptr, nullptr, access));
  }

  StepOr<ScHandle> OpenNamedService(ScHandle manager, const std::wstring& serviceName, std::uint32_t access) override {
    return FromHandle(::OpenServiceW(Native(manager), serviceName.c_str(), access));
  }

  StepOr<ScHandle> CreateNewService(ScHandle manager, const ServiceRegistration& r) override {
    return FromHandle(::CreateServiceW(Native(manager), r.serviceName.c_str(), r.displayName.c_str(), r.desiredAccess,
                                       r.serviceType, r.startType, r.errorControl, r.binaryPathName.c_str(), nullptr,
                                       nullptr, nullptr, nullptr, nullptr));
  }

  Step StartWithoutArguments(ScHandle service) override {
    return FromBool(::StartServiceA(Native(service), 0, nullptr));
  }

  Step ControlService(ScHandle service, std::uint32_t control) override {
    SERVICE_STATUS status{};
    return FromBool(::ControlService(Native(service), control, &status));
  }

  Step DeleteService(ScHandle service) override { return FromBool(::DeleteService(Native(service))); }

  Step ChangeConfig(ScHandle service, const ServiceConfigChange& c) override {
    return FromBool(::ChangeServiceConfigW(Native(service), c.serviceType, c.startType, c.errorControl,
                                           c.binaryPathName.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           c.displayName.c_str()));
  }

  Step ChangeDescription(ScHandle service, const wchar_t* description) override {
    SERVICE_DESCRIPTIONW info{};
    info.lpDescription = const_cast<wchar_t*>(description);
    return FromBool(::ChangeServiceConfig2W(Native(service), SERVICE_CONFIG_DESCRIPTION, &info));
  }

  Step CloseServiceHandle(ScHandle handle) override {
    if (handle == ScHandle::None) return Step::Success();
    return FromBool(::CloseServiceHandle(Native(handle)));
  }
};

// The dispatcher and the manager call plain WINAPI functions; these forward
// to the program's functions, which the process registers once.
std::atomic<ServiceMainFunction> registeredMain{nullptr};
std::atomic<ServiceControlFunction> registeredHandler{nullptr};

VOID WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv) {
  ServiceMainFunction main = registeredMain.load();
  if (main != nullptr) main(argc, argv);
}

VOID WINAPI ServiceControlEntry(DWORD control) {
  ServiceControlFunction handler = registeredHandler.load();
  if (handler != nullptr) handler(control);
}

class Win32ServiceHost final : public ServiceHost {
 public:
  Step RunDispatcher(const std::wstring& serviceName, ServiceMainFunction serviceMain) override {
    registeredMain.store(serviceMain);
    std::vector<wchar_t> name = Writable(serviceName);
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMainEntry}, {nullptr, nullptr}};
    return FromBool(::StartServiceCtrlDispatcherW(table));
  }

  StepOr<ServiceStatusHandle> RegisterControlHandler(const std::wstring& serviceName,
                                                     ServiceControlFunction handler) override {
    registeredHandler.store(handler);
    SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerW(serviceName.c_str(), ServiceControlEntry);
    if (h == nullptr) return StepOr<ServiceStatusHandle>::Failure(::GetLastError());
    return StepOr<ServiceStatusHandle>::Success(static_cast<ServiceStatusHandle>(reinterpret_cast<std::uintptr_t>(h)));
  }

  Step SetStatus(ServiceStatusHandle handle, const ServiceStatus& s) override {
    SERVICE_STATUS status{};
    status.dwServiceType = s.serviceType;
    status.dwCurrentState = s.currentState;
    status.dwControlsAccepted = s.controlsAccepted;
    status.dwWin32ExitCode = s.win32ExitCode;
    status.dwServiceSpecificExitCode = s.serviceSpecificExitCode;
    status.dwCheckPoint = s.checkPoint;
    status.dwWaitHint = s.waitHint;
    return FromBool(
        ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<std::uintptr_t>(handle)), &status));
  }

  StepOr<EventHandle> CreateManualResetEvent() override {
    HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (h == nullptr) return StepOr<EventHandle>::Failure(::GetLastError());
    return StepOr<EventHandle>::Success(static_cast<EventHandle>(reinterpret_cast<std::uintptr_t>(h)));
  }

  Step SignalEvent(EventHandle event) override {
    return FromBool(::SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(event))));
  }
};

}  // namespace

template <>
ServiceControlManager& PlatformDefault<ServiceControlManager>() {
  static Win32ServiceControlManager manager;
  return manager;
}

template <>
ServiceHost& PlatformDefault<ServiceHost>() {
  static Win32ServiceHost host;
  return host;
}

}  // namespace platform
