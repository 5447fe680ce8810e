#include <windows.h>

#include "platform/seam.h"
#include "platform/steady_clock.h"

namespace platform {
namespace {

// The performance counter exists on every Windows the program runs on
// (GetTickCount64 does not before Vista) and does not wrap in practice.
class Win32SteadyClock final : public SteadyClock {
 public:
  Win32SteadyClock() {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    frequency_ = f.QuadPart > 0 ? static_cast<std::uint64_t>(f.QuadPart) : 1000u;
  }
  std::uint64_t NowMilliseconds() override {
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    const std::uint64_t ticks = static_cast<std::uint64_t>(c.QuadPart);
    // Whole seconds and the rest apart, so that the product never overflows.
    return ticks / frequency_ * 1000u + ticks % frequency_ * 1000u / frequency_;
  }

 private:
  std::uint64_t frequency_;
};

}  // namespace

template <>
SteadyClock& PlatformDefault<SteadyClock>() {
  static Win32SteadyClock clock;
  return clock;
}

}  // namespace platform
