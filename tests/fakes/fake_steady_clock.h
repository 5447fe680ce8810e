// A steady clock that moves only when the test (or another fake) moves it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/steady_clock.h"

class FakeSteadyClock final : public platform::SteadyClock {
 public:
  std::uint64_t NowMilliseconds() override { return now_; }
  void Advance(std::uint64_t milliseconds) { now_ += milliseconds; }

 private:
  std::atomic<std::uint64_t> now_{1000000};
};
