#include <windows.h>
#include <objbase.h>

#include "platform/com_runtime.h"
#include "platform/seam.h"

namespace platform {
namespace {

class Win32ComRuntime final : public ComRuntime {
 public:
  ComStatus CoInitialize() override { return static_cast<ComStatus>(::CoInitialize(nullptr)); }
  ComStatus CoInitializeExMultithreaded() override {
    return static_cast<ComStatus>(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  }
  ComStatus CoInitializeSecurity(std::uint32_t authenticationLevel, std::uint32_t impersonationLevel,
                                 std::uint32_t capabilities) override {
    return static_cast<ComStatus>(::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, authenticationLevel,
                                                         impersonationLevel, nullptr, capabilities, nullptr));
  }
  void CoUninitialize() override { ::CoUninitialize(); }
};

}  // namespace

template <>
ComRuntime& PlatformDefault<ComRuntime>() {
  static Win32ComRuntime runtime;
  return runtime;
}

}  // namespace platform
