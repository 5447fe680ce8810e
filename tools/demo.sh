#!/usr/bin/env bash
# The main job: sets up the machine, builds VexelPlayerUpdateService.exe and
# runs it under wine in a throwaway prefix, showing what it leaves behind.
#   tools/demo.sh [--keep]   --keep leaves the prefix in build/demo-prefix
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
echo "== building the Windows executable"
cmake --preset windows >/dev/null
cmake --build --preset windows -- -j"$(nproc)"
exec /usr/bin/python3 tools/demo.py "$@"
