// The registry suites of tests/support against the fake registry.
#include <memory>

#include "tests/fakes/fake_registry.h"
#include "tests/support/registry_cases.h"

namespace {

class FakeRegistryUnderTest final : public RegistryUnderTest {
 public:
  platform::Registry& Get() override { return fake_; }

 private:
  FakeRegistry fake_;
};

RegistryBackend FakeBackend() {
  return RegistryBackend{"Fake", [] { return std::make_unique<FakeRegistryUnderTest>(); }};
}

INSTANTIATE_TEST_SUITE_P(Fake, ScheduleStateCases, ::testing::Values(FakeBackend()), BackendName);
INSTANTIATE_TEST_SUITE_P(Fake, InstalledVersionCases, ::testing::Values(FakeBackend()), BackendName);

}  // namespace
