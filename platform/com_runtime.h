// The COM runtime of the calling thread.
#pragma once

#include <cstdint>

#include "platform/com_object.h"

namespace platform {

// Authentication and impersonation levels of CoInitializeSecurity.
inline constexpr std::uint32_t kAuthenticationLevelPacketPrivacy = 6;  // RPC_C_AUTHN_LEVEL_PKT_PRIVACY
inline constexpr std::uint32_t kImpersonationLevelImpersonate = 3;     // RPC_C_IMP_LEVEL_IMPERSONATE
inline constexpr std::uint32_t kCapabilitiesNone = 0;                  // EOAC_NONE

class ComRuntime {
 public:
  virtual ~ComRuntime() = default;
  // CoInitialize(NULL): joins the thread to a single-threaded apartment.
  // Success (S_OK, or S_FALSE when the thread had joined one already) must
  // be paired with one CoUninitialize; a failure (RPC_E_CHANGED_MODE when
  // the thread is in the multithreaded apartment) must not.
  virtual ComStatus CoInitialize() = 0;
  // CoInitializeEx(NULL, COINIT_MULTITHREADED): joins the multithreaded
  // apartment; pairing as for CoInitialize.
  virtual ComStatus CoInitializeExMultithreaded() = 0;
  // CoInitializeSecurity for the whole process: no security descriptor,
  // authentication services -1 (COM chooses), no service list, no
  // authentication list, no reserved arguments, and the given
  // authentication level, impersonation level and capabilities. The
  // platform accepts it once per process; later calls fail (RPC_E_TOO_LATE).
  virtual ComStatus CoInitializeSecurity(std::uint32_t authenticationLevel, std::uint32_t impersonationLevel,
                                         std::uint32_t capabilities) = 0;
  // CoUninitialize: ends one successful initialisation of the thread. Every
  // interface obtained in it must have been released before.
  virtual void CoUninitialize() = 0;
};

}  // namespace platform
