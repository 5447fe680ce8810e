// Random numbers from the platform's cryptographically secure source.
#pragma once

#include <cstdint>

#include "platform/step.h"

namespace platform {

class SecureRandom {
 public:
  virtual ~SecureRandom() = default;
  // rand_s: one 32-bit number, every value equally likely, from the
  // platform's cryptographically secure source (RtlGenRandom on Windows,
  // getrandom on Linux). Failure: no number could be drawn; the error number
  // is the C runtime's (Windows) or the one nearest to errno (Linux), also
  // set as the thread's last error on Linux.
  virtual StepOr<std::uint32_t> RandS() = 0;
};

}  // namespace platform
