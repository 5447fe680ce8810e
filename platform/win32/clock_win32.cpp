#include <windows.h>

#include "platform/clock.h"
#include "platform/seam.h"

namespace platform {
namespace {

class Win32Clock final : public SystemClock {
 public:
  UtcTime NowUtc() override {
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    return UtcTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
  }
  std::uint64_t NowFileTime() override {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  }
};

}  // namespace

template <>
SystemClock& PlatformDefault<SystemClock>() {
  static Win32Clock clock;
  return clock;
}

}  // namespace platform
