// The service control manager, both sides, as scriptable fakes.
//
// FakeServiceControlManager models one service's registration (registered,
// running) the way the manager answers, records every step with its handle
// and access, hands out fresh handles and tracks which are still open, so a
// test can see that every path closed what it opened, in which order. Any
// step can be scripted to fail with an error number.
//
// FakeServiceHost runs a service's main function on a thread of its own
// while the calling thread acts as the dispatcher, handing the controls a
// test sends to the registered handler, and records every status report.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "platform/service_control.h"

class FakeServiceControlManager final : public platform::ServiceControlManager {
 public:
  using ScHandle = platform::ScHandle;
  using Step = platform::Step;
  using ErrorNumber = platform::ErrorNumber;

  // The service as the manager holds it.
  bool registered = false;
  bool running = false;
  std::optional<platform::ServiceRegistration> registration;  // what CreateServiceW was given
  std::optional<platform::ServiceConfigChange> change;        // what ChangeServiceConfigW was given
  std::optional<std::wstring> description;                    // what ChangeServiceConfig2W was given

  // Steps that fail, by their Windows function name ("OpenSCManagerW",
  // "OpenServiceW", "CreateServiceW", "StartServiceA", "ControlService",
  // "DeleteService", "ChangeServiceConfigW", "ChangeServiceConfig2W",
  // "CloseServiceHandle"), with the error they report.
  std::map<std::string, ErrorNumber> failures;
  // When non-zero, every CloseServiceHandle leaves this as the last error.
  ErrorNumber closeLeavesLastError = 0;

  struct Call {
    std::string step;
    ScHandle handle = ScHandle::None;  // the handle the step acted on, or the one it returned
    std::uint32_t value = 0;           // the access asked for, or the control sent
    std::wstring name;                 // the service name a step was given
    bool ok = false;
  };
  std::vector<Call> calls;
  // Uses of a handle that was never issued or already closed.
  int misuses = 0;

  std::vector<std::string> Steps() const {
    std::vector<std::string> steps;
    for (const Call& c : calls) steps.push_back(c.step);
    return steps;
  }
  std::size_t OpenHandles() const { return open_.size(); }
  // The handles closed, in order, each tagged "manager" or "service".
  std::vector<std::string> ClosedKinds() const { return closedKinds_; }
  const Call* Find(const std::string& step) const {
    for (const Call& c : calls) {
      if (c.step == step) return &c;
    }
    return nullptr;
  }

  platform::StepOr<ScHandle> OpenManager(std::uint32_t access) override {
    if (auto e = Scripted("OpenSCManagerW", access)) return platform::StepOr<ScHandle>::Failure(*e);
    return Issue("OpenSCManagerW", Kind::Manager, access, L"");
  }

  platform::StepOr<ScHandle> OpenNamedService(ScHandle manager, const std::wstring& serviceName,
                                              std::uint32_t access) override {
    if (!IsOpen(manager, Kind::Manager)) return Misuse<platform::StepOr<ScHandle>>("OpenServiceW");
    if (auto e = Scripted("OpenServiceW", access, serviceName)) return platform::StepOr<ScHandle>::Failure(*e);
    if (!registered)
      return Refuse<platform::StepOr<ScHandle>>("OpenServiceW", platform::scm::kErrorServiceDoesNotExist);
    return Issue("OpenServiceW", Kind::Service, access, serviceName);
  }

  platform::StepOr<ScHandle> CreateNewService(ScHandle manager,
                                              const platform::ServiceRegistration& newRegistration) override {
    if (!IsOpen(manager, Kind::Manager)) return Misuse<platform::StepOr<ScHandle>>("CreateServiceW");
    if (auto e = Scripted("CreateServiceW", newRegistration.desiredAccess, newRegistration.serviceName)) {
      return platform::StepOr<ScHandle>::Failure(*e);
    }
    if (registered) return Refuse<platform::StepOr<ScHandle>>("CreateServiceW", platform::scm::kErrorServiceExists);
    registered = true;
    registration = newRegistration;
    return Issue("CreateServiceW", Kind::Service, newRegistration.desiredAccess, newRegistration.serviceName);
  }

  Step StartWithoutArguments(ScHandle service) override {
    return Act("StartServiceA", service, 0, [this]() -> ErrorNumber {
      if (running) return platform::scm::kErrorServiceAlreadyRunning;
      running = true;
      return 0;
    });
  }

  Step ControlService(ScHandle service, std::uint32_t control) override {
    return Act("ControlService", service, control, [this, control]() -> ErrorNumber {
      if (!running) return platform::scm::kErrorServiceNotActive;
      if (control == platform::scm::kControlStop) running = false;
      return 0;
    });
  }

  Step DeleteService(ScHandle service) override {
    return Act("DeleteService", service, 0, [this]() -> ErrorNumber {
      registered = false;
      return 0;
    });
  }

  Step ChangeConfig(ScHandle service, const platform::ServiceConfigChange& newChange) override {
    return Act("ChangeServiceConfigW", service, 0, [this, &newChange]() -> ErrorNumber {
      change = newChange;
      return 0;
    });
  }

  Step ChangeDescription(ScHandle service, const wchar_t* text) override {
    return Act("ChangeServiceConfig2W", service, 0, [this, text]() -> ErrorNumber {
      if (text == nullptr) return platform::error::kInvalidParameter;
      description = text;
      return 0;
    });
  }

  Step CloseServiceHandle(ScHandle handle) override {
    if (handle == ScHandle::None) return Step::Success();
    auto it = open_.find(handle);
    if (it == open_.end()) return Misuse<Step>("CloseServiceHandle");
    closedKinds_.push_back(it->second == Kind::Manager ? "manager" : "service");
    open_.erase(it);
    Step result = Step::Success();
    if (auto e = Scripted("CloseServiceHandle", 0)) result = Step::Failure(*e);
    calls.push_back(Call{"CloseServiceHandle", handle, 0, L"", result.ok});
    if (closeLeavesLastError != 0) platform::SetLastError(closeLeavesLastError);
    return result;
  }

 private:
  enum class Kind { Manager, Service };

  std::optional<ErrorNumber> Scripted(const std::string& step, std::uint32_t value, const std::wstring& name = L"") {
    auto it = failures.find(step);
    if (it == failures.end()) return std::nullopt;
    calls.push_back(Call{step, ScHandle::None, value, name, false});
    platform::SetLastError(it->second);
    return it->second;
  }

  template <class Result>
  Result Refuse(const std::string& step, ErrorNumber error) {
    calls.push_back(Call{step, ScHandle::None, 0, L"", false});
    platform::SetLastError(error);
    return Result::Failure(error);
  }

  template <class Result>
  Result Misuse(const std::string& step) {
    ++misuses;
    return Refuse<Result>(step, platform::error::kInvalidHandle);
  }

  platform::StepOr<ScHandle> Issue(const std::string& step, Kind kind, std::uint32_t access, const std::wstring& name) {
    const ScHandle handle = static_cast<ScHandle>(next_++);
    open_[handle] = kind;
    calls.push_back(Call{step, handle, access, name, true});
    return platform::StepOr<ScHandle>::Success(handle);
  }

  bool IsOpen(ScHandle handle, Kind kind) const {
    auto it = open_.find(handle);
    return it != open_.end() && it->second == kind;
  }

  template <class Effect>
  Step Act(const std::string& step, ScHandle service, std::uint32_t value, Effect effect) {
    if (!IsOpen(service, Kind::Service)) return Misuse<Step>(step);
    if (auto e = Scripted(step, value)) {
      calls.back().handle = service;
      return Step::Failure(*e);
    }
    const ErrorNumber error = effect();
    calls.push_back(Call{step, service, value, L"", error == 0});
    if (error != 0) {
      platform::SetLastError(error);
      return Step::Failure(error);
    }
    return Step::Success();
  }

  std::uintptr_t next_ = 0x100;
  std::map<ScHandle, Kind> open_;
  std::vector<std::string> closedKinds_;
};

class FakeServiceHost final : public platform::ServiceHost {
 public:
  using ErrorNumber = platform::ErrorNumber;

  // Non-zero: the step fails with this error.
  ErrorNumber dispatcherFails = 0;
  ErrorNumber registrationFails = 0;
  ErrorNumber eventFails = 0;
  ErrorNumber statusFails = 0;  // every report fails; the service ignores it

  struct Report {
    platform::ServiceStatusHandle handle;
    platform::ServiceStatus status;
  };

  std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::vector<std::uint32_t> States() {
    std::vector<std::uint32_t> states;
    for (const Report& r : Reports()) states.push_back(r.status.currentState);
    return states;
  }
  std::vector<platform::EventHandle> Signalled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
  }
  std::vector<platform::EventHandle> Created() {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
  }
  int DispatcherRuns() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dispatcherRuns_;
  }
  std::wstring RegisteredName() {
    std::lock_guard<std::mutex> lock(mutex_);
    return registeredName_;
  }
  std::wstring DispatchedName() {
    std::lock_guard<std::mutex> lock(mutex_);
    return dispatchedName_;
  }

  // Hands `control` to the registered handler on the dispatcher's thread and
  // waits until the handler returned. Refused, as the manager refuses it,
  // with 1052 when the last status reported does not accept a stop, and with
  // 1062 when no dispatcher runs or no handler is registered. Called from
  // any thread but the dispatcher's.
  ErrorNumber SendControl(std::uint32_t control) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!dispatching_ || handler_ == nullptr) return platform::scm::kErrorServiceNotActive;
    if (control == platform::scm::kControlStop &&
        (reports_.empty() || (reports_.back().status.controlsAccepted & platform::scm::kAcceptStop) == 0)) {
      return 1052;  // ERROR_INVALID_SERVICE_CONTROL
    }
    const std::uint64_t ticket = ++sent_;
    controls_.push_back(control);
    changed_.notify_all();
    changed_.wait(lock, [&] { return handled_ >= ticket; });
    return 0;
  }

  platform::Step RunDispatcher(const std::wstring& serviceName, platform::ServiceMainFunction serviceMain) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++dispatcherRuns_;
      dispatchedName_ = serviceName;
    }
    if (dispatcherFails != 0) {
      platform::SetLastError(dispatcherFails);
      return platform::Step::Failure(dispatcherFails);
    }
    std::vector<wchar_t> name(serviceName.begin(), serviceName.end());
    name.push_back(L'\0');
    wchar_t* argv[] = {name.data(), nullptr};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dispatching_ = true;
      mainDone_ = false;
    }
    std::thread serviceThread([&] {
      serviceMain(1, argv);
      std::lock_guard<std::mutex> lock(mutex_);
      mainDone_ = true;
      changed_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return !controls_.empty() || mainDone_; });
      if (!controls_.empty()) {
        const std::uint32_t control = controls_.front();
        controls_.pop_front();
        platform::ServiceControlFunction handler = handler_;
        lock.unlock();
        handler(control);
        lock.lock();
        ++handled_;
        changed_.notify_all();
        continue;
      }
      break;
    }
    dispatching_ = false;
    handler_ = nullptr;
    lock.unlock();
    serviceThread.join();
    return platform::Step::Success();
  }

  platform::StepOr<platform::ServiceStatusHandle> RegisterControlHandler(
      const std::wstring& serviceName, platform::ServiceControlFunction handler) override {
    std::lock_guard<std::mutex> lock(mutex_);
    registeredName_ = serviceName;
    if (registrationFails != 0) {
      platform::SetLastError(registrationFails);
      return platform::StepOr<platform::ServiceStatusHandle>::Failure(registrationFails);
    }
    handler_ = handler;
    return platform::StepOr<platform::ServiceStatusHandle>::Success(kStatusHandle);
  }

  platform::Step SetStatus(platform::ServiceStatusHandle handle, const platform::ServiceStatus& status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(Report{handle, status});
    if (statusFails != 0) {
      platform::SetLastError(statusFails);
      return platform::Step::Failure(statusFails);
    }
    return platform::Step::Success();
  }

  platform::StepOr<platform::EventHandle> CreateManualResetEvent() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (eventFails != 0) {
      platform::SetLastError(eventFails);
      return platform::StepOr<platform::EventHandle>::Failure(eventFails);
    }
    const auto event = static_cast<platform::EventHandle>(nextEvent_++);
    created_.push_back(event);
    return platform::StepOr<platform::EventHandle>::Success(event);
  }

  platform::Step SignalEvent(platform::EventHandle event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_.push_back(event);
    return platform::Step::Success();
  }

  static constexpr platform::ServiceStatusHandle kStatusHandle = static_cast<platform::ServiceStatusHandle>(0x5a5a);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
  std::vector<platform::EventHandle> created_;
  std::vector<platform::EventHandle> signalled_;
  std::deque<std::uint32_t> controls_;
  std::uint64_t sent_ = 0;
  std::uint64_t handled_ = 0;
  platform::ServiceControlFunction handler_ = nullptr;
  bool dispatching_ = false;
  bool mainDone_ = false;
  int dispatcherRuns_ = 0;
  std::wstring registeredName_;
  std::wstring dispatchedName_;
  std::uintptr_t nextEvent_ = 0xE0;
};
