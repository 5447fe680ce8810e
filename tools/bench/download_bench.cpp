// vexel-download-bench HOST PORT PATH: the product's package download on the
// host build, for tools/bench/download_bench.sh. Downloads the package from
// http://HOST:PORT/PATH into a temporary folder, reads it back, verifies it
// against the built-in authority and writes its content as
// VexelPlayerInstaller.exe in the current directory, exactly as an
// installation does, without starting it. Exits 0 when the installer was
// written, 1 when the download failed (the activity log below the current
// directory says why), 2 on wrong arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/utf16.h"
#include "transfer/installer_download.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s HOST PORT PATH\n", argv[0]);
    return 2;
  }
  const long port = std::strtol(argv[2], nullptr, 10);
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "%s: not a port: %s\n", argv[0], argv[2]);
    return 2;
  }
  const PackageSource source{Utf8ToWideLossy(argv[1]), static_cast<std::uint16_t>(port), Utf8ToWideLossy(argv[3]),
                             kPackageLimits};
  return DownloadPackage(source) ? 0 : 1;
}
