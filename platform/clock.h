// System time.
#pragma once

#include <cstdint>

namespace platform {

// The fields of the platform's SYSTEMTIME, in UTC.
struct UtcTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;  // 1 to 12
  std::uint16_t day = 0;    // 1 to 31
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

class SystemClock {
 public:
  virtual ~SystemClock() = default;
  // GetSystemTime: the current time in UTC with milliseconds. Cannot fail.
  virtual UtcTime NowUtc() = 0;
  // GetSystemTimeAsFileTime: the current UTC time in 100-nanosecond
  // intervals since 1601-01-01 00:00 UTC. Cannot fail.
  virtual std::uint64_t NowFileTime() = 0;
};

}  // namespace platform
