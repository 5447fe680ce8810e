#!/usr/bin/env bash
# Installs everything the builds and the tests need, from Debian's packages.
# Idempotent: a second run installs nothing new. Must run as root on Debian 12.
set -euo pipefail

need_packages=(
  cmake ninja-build g++ make pkg-config file
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 wine64
  librapidxml-dev libssl-dev libcurl4-openssl-dev
  googletest libgtest-dev libgmock-dev
  openssl curl ca-certificates python3 time
  xvfb xauth
)

if [ "$(id -u)" != 0 ]; then
  echo "setup: run as root (it installs Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (wine32 needs it)"
  dpkg --add-architecture i386
  apt_updated=0
fi

missing=()
for p in "${need_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "setup: all packages present"
fi

# The -posix variants are the ones with std::thread; make sure the
# cross compilers the toolchain file names exist.
for t in i686-w64-mingw32-g++-posix i686-w64-mingw32-gcc-posix i686-w64-mingw32-windres; do
  command -v "$t" >/dev/null || { echo "setup: $t missing after install" >&2; exit 1; }
done
command -v wine >/dev/null || { echo "setup: wine missing after install" >&2; exit 1; }
echo "setup: done"
