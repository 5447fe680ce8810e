// Elapsed time for deadlines: a clock that only moves forward and does not
// follow changes of the wall-clock time.
#pragma once

#include <cstdint>

namespace platform {

class SteadyClock {
 public:
  virtual ~SteadyClock() = default;
  // Milliseconds since an arbitrary fixed point of this process's life
  // (QueryPerformanceCounter, CLOCK_MONOTONIC). Never decreases. Cannot fail.
  virtual std::uint64_t NowMilliseconds() = 0;
};

}  // namespace platform
