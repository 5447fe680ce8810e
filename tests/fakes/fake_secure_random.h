// Random draws that a test scripts: each draw takes the next entry, a number
// or a failure; when the script is used up every draw fails.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "platform/last_error.h"
#include "platform/secure_random.h"

class FakeSecureRandom final : public platform::SecureRandom {
 public:
  // nullopt: that draw fails (EINVAL, 22, as rand_s reports).
  std::deque<std::optional<std::uint32_t>> draws;
  int calls = 0;

  platform::StepOr<std::uint32_t> RandS() override {
    ++calls;
    if (draws.empty() || !draws.front()) {
      if (!draws.empty()) draws.pop_front();
      return platform::StepOr<std::uint32_t>::Failure(22);
    }
    std::uint32_t value = *draws.front();
    draws.pop_front();
    return platform::StepOr<std::uint32_t>::Success(value);
  }
};
