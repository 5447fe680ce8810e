#include "tests/support/registry_cases.h"

#include <vector>

#include "update/installed_version.h"

std::string BackendName(const ::testing::TestParamInfo<RegistryBackend>& info) { return info.param.name; }

void PrintTo(const RegistryBackend& backend, std::ostream* out) { *out << backend.name; }

std::string Le16(std::uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string Le32(std::uint32_t v) {
  return Le16(static_cast<std::uint16_t>(v)) + Le16(static_cast<std::uint16_t>(v >> 16));
}

std::string Le64(std::uint64_t v) {
  return Le32(static_cast<std::uint32_t>(v)) + Le32(static_cast<std::uint32_t>(v >> 32));
}

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) bytes += Le16(static_cast<std::uint16_t>(c));
  return bytes;
}

void RegistryCase::SetUp() {
  clockSeam_.emplace(&clock_);
  Fresh();
}

void RegistryCase::TearDown() {
  registrySeam_.reset();
  registry_.reset();
  clockSeam_.reset();
}

void RegistryCase::Fresh() {
  registrySeam_.reset();
  registry_.reset();
  registry_ = GetParam().make();
  registrySeam_.emplace(&registry_->Get());
}

void RegistryCase::PlantKey(const std::wstring& subkey) {
  platform::Registry& registry = registry_->Get();
  auto created = registry.CreateKey(subkey);
  ASSERT_TRUE(created.ok) << "error " << created.error;
  EXPECT_TRUE(registry.CloseKey(created.value).ok);
}

void RegistryCase::Plant(const std::wstring& subkey, const std::wstring& name, std::uint32_t type,
                         const std::string& bytes) {
  platform::Registry& registry = registry_->Get();
  auto created = registry.CreateKey(subkey);
  ASSERT_TRUE(created.ok) << "error " << created.error;
  platform::RegistryKey key(registry, created.value);
  auto set = registry.SetValue(key.Handle(), name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  EXPECT_TRUE(set.ok) << "error " << set.error;
}

std::optional<RegistryCase::Found> RegistryCase::Stored(const std::wstring& subkey, const std::wstring& name) {
  platform::Registry& registry = registry_->Get();
  auto opened = registry.OpenKey(subkey, platform::RegistryAccess::kRead);
  if (!opened.ok) return std::nullopt;
  platform::RegistryKey key(registry, opened.value);
  std::vector<char> buffer(65536);
  auto queried = registry.QueryValue(key.Handle(), name, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  if (!queried.ok) return std::nullopt;
  return Found{queried.value.type, std::string(buffer.data(), queried.value.size)};
}

bool RegistryCase::KeyExists(const std::wstring& subkey) {
  platform::Registry& registry = registry_->Get();
  auto opened = registry.OpenKey(subkey, platform::RegistryAccess::kRead);
  if (!opened.ok) return false;
  registry.CloseKey(opened.value);
  return true;
}

void InstalledVersionCases::SetUp() {
  RegistryCase::SetUp();
  savedOsClass_ = OsClass;
  OsClass = kOsClassVistaTo7;
}

void InstalledVersionCases::TearDown() {
  OsClass = savedOsClass_;
  RegistryCase::TearDown();
}
