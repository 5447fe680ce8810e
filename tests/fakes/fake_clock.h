// A clock that stands still until the test moves it.
#pragma once

#include "platform/clock.h"

class FakeClock final : public platform::SystemClock {
 public:
  platform::UtcTime utc{2010, 11, 3, 9, 5, 42, 7};
  std::uint64_t fileTime = 0;

  platform::UtcTime NowUtc() override { return utc; }
  std::uint64_t NowFileTime() override { return fileTime; }
};
