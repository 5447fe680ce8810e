#pragma once

#include <cstdint>

namespace platform {
struct OsVersion { std::uint32_t platformId = 0; std::uint32_t major = 0; std::uint32_t minor = 0; };
class OsVersionQuery { public: virtual ~OsVersionQuery() = default;
  // GetVersionExA with OSVERSIONINFOA (size 148); its result is not examined.
  virtual OsVersion Query() = 0; };
}
