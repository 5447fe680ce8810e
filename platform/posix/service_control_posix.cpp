// Linux has no service control manager: every registration step fails with
// ERROR_NOT_SUPPORTED, and the process is never one the manager started, so
// the dispatcher and handler registration fail as they do on Windows for a
// program started from a console. Events are real.
#include <atomic>

#include "platform/last_error.h"
#include "platform/seam.h"
#include "platform/service_control.h"

namespace platform {
namespace {

template <class Result>
Result Fail(ErrorNumber error) {
  SetLastError(error);
  return Result::Failure(error);
}

class PosixServiceControlManager final : public ServiceControlManager {
 public:
  StepOr<ScHandle> OpenManager(std::uint32_t) override { return Fail<StepOr<ScHandle>>(error::kNotSupported); }
  StepOr<ScHandle> OpenNamedService(ScHandle, const std::wstring&, std::uint32_t) override {
    return Fail<StepOr<ScHandle>>(error::kInvalidHandle);
  }
  StepOr<ScHandle> CreateNewService(ScHandle, const ServiceRegistration&) override {
    return Fail<StepOr<ScHandle>>(error::kInvalidHandle);
  }
  Step StartWithoutArguments(ScHandle) override { return Fail<Step>(error::kInvalidHandle); }
  Step ControlService(ScHandle, std::uint32_t) override { return Fail<Step>(error::kInvalidHandle); }
  Step DeleteService(ScHandle) override { return Fail<Step>(error::kInvalidHandle); }
  Step ChangeConfig(ScHandle, const ServiceConfigChange&) override { return Fail<Step>(error::kInvalidHandle); }
  Step ChangeDescription(ScHandle, const wchar_t*) override { return Fail<Step>(error::kInvalidHandle); }
  Step CloseServiceHandle(ScHandle handle) override {
    return handle == ScHandle::None ? Step::Success() : Fail<Step>(error::kInvalidHandle);
  }
};

class PosixServiceHost final : public ServiceHost {
 public:
  Step RunDispatcher(const std::wstring&, ServiceMainFunction) override {
    return Fail<Step>(scm::kErrorNotStartedAsService);
  }
  StepOr<ServiceStatusHandle> RegisterControlHandler(const std::wstring&, ServiceControlFunction) override {
    return Fail<StepOr<ServiceStatusHandle>>(scm::kErrorNotStartedAsService);
  }
  Step SetStatus(ServiceStatusHandle, const ServiceStatus&) override { return Fail<Step>(error::kInvalidHandle); }

  // An event is a flag that lives until the process ends, as the interface
  // promises.
  StepOr<EventHandle> CreateManualResetEvent() override {
    auto* flag = new std::atomic<bool>(false);
    return StepOr<EventHandle>::Success(static_cast<EventHandle>(reinterpret_cast<std::uintptr_t>(flag)));
  }
  Step SignalEvent(EventHandle event) override {
    if (event == EventHandle::None) return Fail<Step>(error::kInvalidHandle);
    reinterpret_cast<std::atomic<bool>*>(static_cast<std::uintptr_t>(event))->store(true);
    return Step::Success();
  }
};

}  // namespace

template <>
ServiceControlManager& PlatformDefault<ServiceControlManager>() {
  static PosixServiceControlManager manager;
  return manager;
}

template <>
ServiceHost& PlatformDefault<ServiceHost>() {
  static PosixServiceHost host;
  return host;
}

}  // namespace platform
