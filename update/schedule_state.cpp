#include "update/schedule_state.h"

#include <cstddef>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/seam.h"

namespace {

using platform::RegistryAccess;
using platform::RegistryKey;

platform::Registry& Registry() { return platform::Seam<platform::Registry>::Get(); }

// The little-endian number in the first `size` bytes; the rest count as 0.
std::uint64_t LittleEndian(const unsigned char* bytes, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

// Opens the key for reading, queries `name` into a zeroed buffer of `Size`
// bytes and closes the key. The number the bytes read make up, or nothing
// when the key or the value could not be read. A failed query's buffer is
// never looked at: the platform leaves it undefined when the value is too
// long for it.
template <std::size_t Size>
std::optional<std::uint64_t> ReadNumber(const wchar_t* name) {
  platform::Registry& registry = Registry();
  platform::StepOr<platform::RegistryKeyHandle> opened = registry.OpenKey(ScheduleKey, RegistryAccess::kRead);
  if (!opened) return std::nullopt;
  RegistryKey key(registry, opened.value);
  unsigned char buffer[Size] = {};
  platform::StepOr<platform::QueriedValue> queried = registry.QueryValue(key.Handle(), name, buffer, Size);
  key.Close();
  if (!queried) return std::nullopt;
  const std::size_t read = queried.value.size < Size ? queried.value.size : Size;
  return LittleEndian(buffer, read);
}

// Creates (or opens) the key, sets `name` to the low `Size` bytes of `value`,
// little-endian, with `type`, and closes the key.
template <std::size_t Size>
bool WriteNumber(const wchar_t* name, std::uint32_t type, std::uint64_t value) {
  platform::Registry& registry = Registry();
  platform::StepOr<platform::RegistryKeyHandle> created = registry.CreateKey(ScheduleKey);
  if (!created) return false;
  RegistryKey key(registry, created.value);
  unsigned char bytes[Size];
  for (std::size_t i = 0; i < Size; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  return registry.SetValue(key.Handle(), name, type, bytes, Size).ok;
}

bool DeleteValue(const wchar_t* name) {
  platform::Registry& registry = Registry();
  platform::StepOr<platform::RegistryKeyHandle> opened = registry.OpenKey(ScheduleKey, RegistryAccess::kSetValue);
  if (!opened) return false;
  RegistryKey key(registry, opened.value);
  return registry.DeleteValue(key.Handle(), name).ok;
}

std::uint32_t ClampCheckFrequency(std::uint32_t days) {
  if (days < kMinimumCheckFrequencyDays) return kMinimumCheckFrequencyDays;
  if (days > kMaximumCheckFrequencyDays) return kMaximumCheckFrequencyDays;
  return days;
}

}  // namespace

std::uint64_t CurrentFileTime() { return platform::Seam<platform::SystemClock>::Get().NowFileTime(); }

bool WriteUpdateAttempts(std::uint32_t count) {
  return WriteNumber<4>(kUpdateAttemptsValue, platform::registry_type::kDword, count);
}

bool WriteLastUpdateCheck(bool reset) {
  const std::uint64_t when = reset ? 0 : CurrentFileTime();
  return WriteNumber<8>(kLastUpdateCheckValue, platform::registry_type::kQword, when);
}

bool WriteCheckFrequency(std::optional<std::uint32_t> days) {
  const std::uint32_t clamped = ClampCheckFrequency(days.value_or(kDefaultCheckFrequencyDays));
  return WriteNumber<4>(kCheckFrequencyValue, platform::registry_type::kDword, clamped);
}

bool DeleteUpdateAttempts() { return DeleteValue(kUpdateAttemptsValue); }
bool DeleteLastUpdateCheck() { return DeleteValue(kLastUpdateCheckValue); }
bool DeleteCheckFrequency() { return DeleteValue(kCheckFrequencyValue); }

bool ReadUpdateAttempts(std::uint32_t& count) {
  const std::optional<std::uint64_t> read = ReadNumber<4>(kUpdateAttemptsValue);
  if (!read) return false;
  count = static_cast<std::uint32_t>(*read);
  return true;
}

bool ReadCheckFrequency(std::uint32_t& days) {
  const std::optional<std::uint64_t> read = ReadNumber<4>(kCheckFrequencyValue);
  days = ClampCheckFrequency(read ? static_cast<std::uint32_t>(*read) : kDefaultCheckFrequencyDays);
  return read.has_value();
}

bool IncrementUpdateAttempts() {
  std::uint32_t count = 0;
  const std::uint32_t next = ReadUpdateAttempts(count) ? count + 1 : 1;
  return WriteUpdateAttempts(next);
}

bool IsCheckDue() {
  const std::uint64_t now = CurrentFileTime();
  // Missing, unreadable and longer than 8 bytes alike: never checked.
  const std::uint64_t last = ReadNumber<8>(kLastUpdateCheckValue).value_or(0);
  std::uint32_t days = kDefaultCheckFrequencyDays;
  ReadCheckFrequency(days);
  return last + days * kFileTimeUnitsPerDay < now;
}
