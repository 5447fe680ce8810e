// The update schedule: three registry values that carry from one service run
// to the next when the last check was recorded, how many days lie between
// checks and how many installation attempts have been made.
//
// All three live under ScheduleKey in HKEY_LOCAL_MACHINE, in the registry
// view of the program's own bitness (the 32-bit view for the Windows build):
//
//   "LastUpdateCheck"  REG_QWORD, 8 bytes little-endian: UTC file time (100 ns
//                      units since 1601-01-01) of the last recorded check;
//                      0 means never. Missing or unreadable: 0.
//   "CheckFrequency"   REG_DWORD, 4 bytes: days between checks, 1 to 3.
//                      Missing or unreadable: 1.
//   "UpdateAttempts"   REG_DWORD, 4 bytes: installation attempts since the
//                      state was last initialised. Missing: not read.
//
// Every operation opens the key, makes its one access and closes the key
// again; nothing is cached and nothing is logged. Failures show only in the
// boolean results (true on success).
//
// A value's stored type is never looked at: a read takes whatever bytes the
// value holds, up to the size of its buffer (8 bytes for "LastUpdateCheck",
// 4 for the others), as a little-endian number whose missing high-order bytes
// are 0. A value longer than its buffer cannot be read, and reads as missing.
#pragma once

#include <cstdint>
#include <optional>

// HKEY_LOCAL_MACHINE\SOFTWARE\Kestrania\VexelPlayer.
inline constexpr wchar_t ScheduleKey[] = L"SOFTWARE\\Kestrania\\VexelPlayer";
inline constexpr wchar_t kLastUpdateCheckValue[] = L"LastUpdateCheck";
inline constexpr wchar_t kCheckFrequencyValue[] = L"CheckFrequency";
inline constexpr wchar_t kUpdateAttemptsValue[] = L"UpdateAttempts";

// One day in file-time units: 86,400 s of 10,000,000 units each.
inline constexpr std::uint64_t kFileTimeUnitsPerDay = 864000000000ULL;
inline constexpr std::uint32_t kMinimumCheckFrequencyDays = 1;
inline constexpr std::uint32_t kMaximumCheckFrequencyDays = 3;
inline constexpr std::uint32_t kDefaultCheckFrequencyDays = 1;

// Writes "UpdateAttempts" (REG_DWORD), creating the key when it is missing.
bool WriteUpdateAttempts(std::uint32_t count);

// Writes "LastUpdateCheck" (REG_QWORD): 0 when `reset` is true, else the
// current time; creates the key when it is missing.
bool WriteLastUpdateCheck(bool reset);

// Writes "CheckFrequency" (REG_DWORD): `days` clamped to 1..3, or 1 when no
// number is given; creates the key when it is missing.
bool WriteCheckFrequency(std::optional<std::uint32_t> days = std::nullopt);

// Delete the one value; false when the key or the value is missing, or the
// deletion fails. The key is never created.
bool DeleteUpdateAttempts();
bool DeleteLastUpdateCheck();
bool DeleteCheckFrequency();

// Reads "UpdateAttempts". True when it was read, and then `count` holds it;
// false (key or value missing, value longer than 4 bytes, any other failure)
// leaves `count` as it was.
bool ReadUpdateAttempts(std::uint32_t& count);

// Reads "CheckFrequency" and always delivers 1 to 3 days in `days`: a value
// that cannot be read gives 1, 0 gives 1 and anything above 3 gives 3. True
// exactly when the value was read.
bool ReadCheckFrequency(std::uint32_t& days);

// Writes "UpdateAttempts" plus one (4294967295 wraps to 0), or 1 when it
// cannot be read. The write's result.
bool IncrementUpdateAttempts();

// The due test: true when "LastUpdateCheck" plus "CheckFrequency" days lies
// before now, that is last + days * kFileTimeUnitsPerDay < now in unsigned
// 64-bit arithmetic, the sum taken modulo 2^64 (equality is not due). A key
// or "LastUpdateCheck" that cannot be read counts as 0, never checked, and so
// does a "LastUpdateCheck" longer than 8 bytes: a value that size was written
// by nothing of ours, and the earliest time is the reading that makes the
// service check and, after the check, record a proper value again.
bool IsCheckDue();

// The current UTC time as a file time (GetSystemTimeAsFileTime).
std::uint64_t CurrentFileTime();

// The accessor the update cycle works through. It holds no data and caches
// nothing; every call forwards to the operation of the same name above.
class ScheduleState {
 public:
  bool IsCheckDue() const { return ::IsCheckDue(); }
  bool ReadUpdateAttempts(std::uint32_t& count) const { return ::ReadUpdateAttempts(count); }
  bool ReadCheckFrequency(std::uint32_t& days) const { return ::ReadCheckFrequency(days); }
  bool IncrementUpdateAttempts() const { return ::IncrementUpdateAttempts(); }
  bool WriteUpdateAttempts(std::uint32_t count) const { return ::WriteUpdateAttempts(count); }
  bool WriteLastUpdateCheck(bool reset) const { return ::WriteLastUpdateCheck(reset); }
  bool WriteCheckFrequency(std::optional<std::uint32_t> days = std::nullopt) const {
    return ::WriteCheckFrequency(days);
  }
  bool DeleteUpdateAttempts() const { return ::DeleteUpdateAttempts(); }
  bool DeleteLastUpdateCheck() const { return ::DeleteLastUpdateCheck(); }
  bool DeleteCheckFrequency() const { return ::DeleteCheckFrequency(); }
  std::uint64_t CurrentFileTime() const { return ::CurrentFileTime(); }
};
