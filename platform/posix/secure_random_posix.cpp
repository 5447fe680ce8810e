#include <sys/random.h>

#include <cerrno>

#include "platform/posix/errors_posix.h"
#include "platform/secure_random.h"
#include "platform/seam.h"

namespace platform {
namespace {

class PosixSecureRandom final : public SecureRandom {
 public:
  StepOr<std::uint32_t> RandS() override {
    // getrandom reads the kernel's cryptographically secure generator; a
    // request this small is answered whole once the generator is seeded.
    std::uint32_t value = 0;
    ssize_t n;
    do {
      n = ::getrandom(&value, sizeof value, 0);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof value)) {
      if (n >= 0) errno = EIO;
      return StepOr<std::uint32_t>::Failure(posix::FailFromErrno().error);
    }
    return StepOr<std::uint32_t>::Success(value);
  }
};

}  // namespace

template <>
SecureRandom& PlatformDefault<SecureRandom>() {
  static PosixSecureRandom random;
  return random;
}

}  // namespace platform
