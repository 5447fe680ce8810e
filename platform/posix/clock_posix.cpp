#include <ctime>

#include "platform/clock.h"
#include "platform/seam.h"

namespace platform {
namespace {

// Seconds between 1601-01-01 and 1970-01-01, the offset of file times.
constexpr std::uint64_t kEpochDifferenceSeconds = 11644473600ULL;

class PosixClock final : public SystemClock {
 public:
  UtcTime NowUtc() override {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    ::gmtime_r(&ts.tv_sec, &tm);
    return UtcTime{static_cast<std::uint16_t>(tm.tm_year + 1900), static_cast<std::uint16_t>(tm.tm_mon + 1),
                   static_cast<std::uint16_t>(tm.tm_mday),        static_cast<std::uint16_t>(tm.tm_hour),
                   static_cast<std::uint16_t>(tm.tm_min),         static_cast<std::uint16_t>(tm.tm_sec),
                   static_cast<std::uint16_t>(ts.tv_nsec / 1000000)};
  }
  std::uint64_t NowFileTime() override {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<std::uint64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * 10000000ULL +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100;
  }
};

}  // namespace

template <>
SystemClock& PlatformDefault<SystemClock>() {
  static PosixClock clock;
  return clock;
}

}  // namespace platform
