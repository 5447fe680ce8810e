// A COM runtime and an object registry for the fake task schedulers.
//
// FakeCom counts initialisations and live interfaces, keeps a trace of every
// call and release in order, fails any named step on demand (with the status
// and the thread's last error the test chooses), and records as violations
// what the real platform would not forgive: a call outside COM, a call on a
// released or foreign interface, a double release, a CoUninitialize while
// interfaces are still alive.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_runtime.h"
#include "platform/last_error.h"

// One interface a fake scheduler handed out. `kind` is its interface name.
struct FakeComObject {
  explicit FakeComObject(std::string k) : kind(std::move(k)) {}
  virtual ~FakeComObject() = default;
  std::string kind;
  bool live = true;
};

class FakeCom final : public platform::ComRuntime {
 public:
  struct Failure {
    platform::ComStatus status;
    platform::ErrorNumber lastError;
  };

  // Every later call of `step` (the name in the trace, "ITaskService::Connect",
  // "CoInitializeSecurity") fails with `status` and sets the thread's last
  // error to `lastError`.
  void Fail(const std::string& step, platform::ComStatus status, platform::ErrorNumber lastError);

  // When set, CoUninitialize leaves this value as the thread's last error, so
  // that a test sees whether an error number was read before or after it.
  std::optional<platform::ErrorNumber> lastErrorAfterUninitialize;

  // ComRuntime.
  platform::ComStatus CoInitialize() override;
  platform::ComStatus CoInitializeExMultithreaded() override;
  platform::ComStatus CoInitializeSecurity(std::uint32_t authenticationLevel, std::uint32_t impersonationLevel,
                                           std::uint32_t capabilities) override;
  void CoUninitialize() override;

  // For the fake schedulers: records the call, checks that the thread is in
  // COM, and returns the scripted failure of the step if there is one (its
  // last error already set).
  std::optional<Failure> Enter(const std::string& step);
  // Registers a new interface (alive, in the trace as "+Kind").
  platform::ComObject* Hand(std::unique_ptr<FakeComObject> object);
  // The live interface behind a reference, when it is of the expected kind;
  // otherwise records a violation and returns null.
  template <class T>
  T* Find(platform::ComObject* object, const char* kind) {
    return static_cast<T*>(FindObject(object, kind));
  }
  void Release(platform::ComObject* object);

  // What the test inspects.
  int LiveInterfaces() const;
  // Interface names of the live interfaces, for failure messages.
  std::string LiveKinds() const;
  int Initialisations() const { return initialisations_; }  // successful ones not yet uninitialised
  std::vector<std::string> trace;                            // calls, "+Kind" hand-outs and "-Kind" releases
  std::vector<std::string> violations;
  // The trace entries that are releases, CoUninitialize, or in `names`.
  std::vector<std::string> TraceOf(const std::vector<std::string>& names) const;
  std::uint32_t securityAuthenticationLevel = 0;
  std::uint32_t securityImpersonationLevel = 0;
  std::uint32_t securityCapabilities = 99;
  int securityCalls = 0;

 private:
  FakeComObject* FindObject(platform::ComObject* object, const char* kind);
  std::optional<Failure> Scripted(const std::string& step);

  std::map<std::string, Failure> failures_;
  std::vector<std::unique_ptr<FakeComObject>> objects_;
  int initialisations_ = 0;
};
