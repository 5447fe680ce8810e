#include "tests/fakes/fake_com.h"

#include <algorithm>

void FakeCom::Fail(const std::string& step, platform::ComStatus status, platform::ErrorNumber lastError) {
  failures_[step] = Failure{status, lastError};
}

std::optional<FakeCom::Failure> FakeCom::Scripted(const std::string& step) {
  auto it = failures_.find(step);
  if (it == failures_.end()) return std::nullopt;
  platform::SetLastError(it->second.lastError);
  return it->second;
}

platform::ComStatus FakeCom::CoInitialize() {
  trace.push_back("CoInitialize");
  if (auto failure = Scripted("CoInitialize")) return failure->status;
  ++initialisations_;
  return platform::com::kOk;
}

platform::ComStatus FakeCom::CoInitializeExMultithreaded() {
  trace.push_back("CoInitializeEx");
  if (auto failure = Scripted("CoInitializeEx")) return failure->status;
  ++initialisations_;
  return platform::com::kOk;
}

platform::ComStatus FakeCom::CoInitializeSecurity(std::uint32_t authenticationLevel, std::uint32_t impersonationLevel,
                                                  std::uint32_t capabilities) {
  trace.push_back("CoInitializeSecurity");
  if (initialisations_ == 0) violations.push_back("CoInitializeSecurity outside COM");
  ++securityCalls;
  securityAuthenticationLevel = authenticationLevel;
  securityImpersonationLevel = impersonationLevel;
  securityCapabilities = capabilities;
  if (auto failure = Scripted("CoInitializeSecurity")) return failure->status;
  return platform::com::kOk;
}

void FakeCom::CoUninitialize() {
  trace.push_back("CoUninitialize");
  if (initialisations_ == 0) {
    violations.push_back("CoUninitialize without a successful initialisation");
  } else {
    --initialisations_;
  }
  if (LiveInterfaces() != 0) violations.push_back("CoUninitialize with live interfaces: " + LiveKinds());
  if (lastErrorAfterUninitialize) platform::SetLastError(*lastErrorAfterUninitialize);
}

std::optional<FakeCom::Failure> FakeCom::Enter(const std::string& step) {
  trace.push_back(step);
  if (initialisations_ == 0) violations.push_back(step + " outside COM");
  return Scripted(step);
}

platform::ComObject* FakeCom::Hand(std::unique_ptr<FakeComObject> object) {
  trace.push_back("+" + object->kind);
  objects_.push_back(std::move(object));
  return reinterpret_cast<platform::ComObject*>(objects_.back().get());
}

FakeComObject* FakeCom::FindObject(platform::ComObject* object, const char* kind) {
  auto* candidate = reinterpret_cast<FakeComObject*>(object);
  auto it = std::find_if(objects_.begin(), objects_.end(), [&](const auto& o) { return o.get() == candidate; });
  if (it == objects_.end()) {
    violations.push_back(std::string("a ") + kind + " that this fake never handed out");
    return nullptr;
  }
  if (!candidate->live) {
    violations.push_back(std::string("a call on a released ") + candidate->kind);
    return nullptr;
  }
  if (candidate->kind != kind) {
    violations.push_back(std::string("a ") + candidate->kind + " passed where a " + kind + " belongs");
    return nullptr;
  }
  return candidate;
}

void FakeCom::Release(platform::ComObject* object) {
  auto* candidate = reinterpret_cast<FakeComObject*>(object);
  auto it = std::find_if(objects_.begin(), objects_.end(), [&](const auto& o) { return o.get() == candidate; });
  if (it == objects_.end()) {
    violations.push_back("Release of an interface that this fake never handed out");
    return;
  }
  trace.push_back("-" + candidate->kind);
  if (!candidate->live) {
    violations.push_back("second Release of a " + candidate->kind);
    return;
  }
  if (initialisations_ == 0) violations.push_back("Release of a " + candidate->kind + " outside COM");
  candidate->live = false;
}

int FakeCom::LiveInterfaces() const {
  return static_cast<int>(std::count_if(objects_.begin(), objects_.end(), [](const auto& o) { return o->live; }));
}

std::string FakeCom::LiveKinds() const {
  std::string kinds;
  for (const auto& o : objects_) {
    if (o->live) kinds += (kinds.empty() ? "" : ", ") + o->kind;
  }
  return kinds;
}

std::vector<std::string> FakeCom::TraceOf(const std::vector<std::string>& names) const {
  std::vector<std::string> out;
  for (const std::string& entry : trace) {
    if (entry[0] == '-' || entry == "CoUninitialize" ||
        std::find(names.begin(), names.end(), entry) != names.end()) {
      out.push_back(entry);
    }
  }
  return out;
}
