#!/usr/bin/env bash
# Sets up the machine and runs every test: the host build (core, POSIX
# adapters, tools) plain and with the sanitizers, then the Windows build
# with its tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

jobs=$(nproc)

for preset in host host-sanitize windows; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$jobs"
done

status=0
for preset in host host-sanitize windows; do
  echo "== $preset: tests"
  ctest --preset "$preset" || status=1
done
exit $status
