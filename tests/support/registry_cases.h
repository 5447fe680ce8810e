// Test suites that run against every registry the program can sit on: the
// fake, the host's persistent store and, under wine, the Windows registry.
// The cases live in tests/support/*_cases.cpp; each test program instantiates
// the suites with the registries it has:
//
//   INSTANTIATE_TEST_SUITE_P(Store, ScheduleStateCases, ::testing::Values(MyBackend()), BackendName);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/seam.h"
#include "tests/fakes/fake_clock.h"

// One registry for one test: without any of the product's keys when made,
// cleaned up again when destroyed.
class RegistryUnderTest {
 public:
  virtual ~RegistryUnderTest() = default;
  virtual platform::Registry& Get() = 0;
};

struct RegistryBackend {
  std::string name;  // letters and digits only: it names the instantiation
  std::function<std::unique_ptr<RegistryUnderTest>()> make;
};

std::string BackendName(const ::testing::TestParamInfo<RegistryBackend>& info);
void PrintTo(const RegistryBackend& backend, std::ostream* out);

// A registry that only wraps one owned elsewhere, for backends whose
// registry lives as long as the program (the platform's own adapter).
class BorrowedRegistry : public RegistryUnderTest {
 public:
  explicit BorrowedRegistry(platform::Registry& registry) : registry_(registry) {}
  platform::Registry& Get() override { return registry_; }

 private:
  platform::Registry& registry_;
};

// Little-endian bytes of a number, and UTF-16LE bytes of text.
std::string Le16(std::uint16_t v);
std::string Le32(std::uint32_t v);
std::string Le64(std::uint64_t v);
std::string Utf16Le(const std::u16string& text);

// The fixture of both suites: the backend's registry and a clock standing at
// `now` replace the platform's for the test. Fresh() starts over with an
// empty registry, for tables whose rows each need one.
class RegistryCase : public ::testing::TestWithParam<RegistryBackend> {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Fresh();

  // Direct access to the registry under test, through its own steps.
  void PlantKey(const std::wstring& subkey);
  void Plant(const std::wstring& subkey, const std::wstring& name, std::uint32_t type, const std::string& bytes);
  struct Found {
    std::uint32_t type;
    std::string bytes;
  };
  std::optional<Found> Stored(const std::wstring& subkey, const std::wstring& name);
  bool KeyExists(const std::wstring& subkey);

  FakeClock clock_;

 private:
  std::unique_ptr<RegistryUnderTest> registry_;
  std::optional<platform::ScopedSeam<platform::Registry>> registrySeam_;
  std::optional<platform::ScopedSeam<platform::SystemClock>> clockSeam_;
};

class ScheduleStateCases : public RegistryCase {};

class InstalledVersionCases : public RegistryCase {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  std::int32_t savedOsClass_ = 0;
};
