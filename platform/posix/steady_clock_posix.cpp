#include <ctime>

#include "platform/seam.h"
#include "platform/steady_clock.h"

namespace platform {
namespace {

class PosixSteadyClock final : public SteadyClock {
 public:
  std::uint64_t NowMilliseconds() override {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  }
};

}  // namespace

template <>
SteadyClock& PlatformDefault<SteadyClock>() {
  static PosixSteadyClock clock;
  return clock;
}

}  // namespace platform
