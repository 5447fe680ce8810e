#include "platform/os_version.h"
#include "platform/seam.h"

namespace platform {
namespace {

// A Linux host has no Windows version. It answers as a current Windows of
// the NT family (10.0) would: the later generation of every platform service
// is chosen, and the ActiveX flavour, which no Linux browser can host, is
// never updated. The kernel's version is no Windows version and is not used.
class PosixOsVersionQuery final : public OsVersionQuery {
 public:
  OsVersion Query() override { return OsVersion{2, 10, 0}; }
};

}  // namespace

template <>
OsVersionQuery& PlatformDefault<OsVersionQuery>() {
  static PosixOsVersionQuery query;
  return query;
}

}  // namespace platform
