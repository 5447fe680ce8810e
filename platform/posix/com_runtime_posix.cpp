// The host build has no COM. Its runtime accepts every initialisation, so
// that the task operations reach the scheduler adapters, which report that
// no task scheduler exists here.
#include "platform/com_runtime.h"
#include "platform/seam.h"

namespace platform {
namespace {

class PosixComRuntime final : public ComRuntime {
 public:
  ComStatus CoInitialize() override { return com::kOk; }
  ComStatus CoInitializeExMultithreaded() override { return com::kOk; }
  ComStatus CoInitializeSecurity(std::uint32_t, std::uint32_t, std::uint32_t) override { return com::kOk; }
  void CoUninitialize() override {}
};

}  // namespace

template <>
ComRuntime& PlatformDefault<ComRuntime>() {
  static PosixComRuntime runtime;
  return runtime;
}

}  // namespace platform
