// rand_s is declared only when _CRT_RAND_S precedes <stdlib.h>.
#define _CRT_RAND_S
#include <stdlib.h>

#include "platform/secure_random.h"
#include "platform/seam.h"

namespace platform {
namespace {

class Win32SecureRandom final : public SecureRandom {
 public:
  StepOr<std::uint32_t> RandS() override {
    unsigned int value = 0;
    const errno_t result = ::rand_s(&value);
    if (result != 0) return StepOr<std::uint32_t>::Failure(static_cast<ErrorNumber>(result));
    return StepOr<std::uint32_t>::Success(value);
  }
};

}  // namespace

template <>
SecureRandom& PlatformDefault<SecureRandom>() {
  static Win32SecureRandom random;
  return random;
}

}  // namespace platform
