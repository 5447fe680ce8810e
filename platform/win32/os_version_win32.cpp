#include <windows.h>

#include "platform/os_version.h"
#include "platform/seam.h"

namespace platform {
namespace {

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is the 148-byte structure");

class Win32OsVersionQuery final : public OsVersionQuery {
 public:
  OsVersion Query() override {
    // Zeroed first, so that a failed call reads as platform 0, version 0.0.
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ::GetVersionExA(&info);
    return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
  }
};

}  // namespace

template <>
OsVersionQuery& PlatformDefault<OsVersionQuery>() {
  static Win32OsVersionQuery query;
  return query;
}

}  // namespace platform
