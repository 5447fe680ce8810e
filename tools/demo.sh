#!/usr/bin/env bash
# The main job in one command: sets up the machine, builds the Windows
# executable and what the demo needs, and has tools/demo.py run the hourly
# wake-up under wine in a throwaway prefix (build/demo-prefix) against
# update servers on loopback, showing what it does and leaves behind.
#
#   tools/demo.sh [--keep] [--windows-version winxp64|win7|win10]
#     --keep             leave the product installed and keep the prefix
#     --windows-version  the Windows version the prefix pretends to be
#                        (default winxp64, see tools/demo.py)
#
# Needs root (tools/setup.sh installs Debian packages) and loopback ports 443
# and 80 (waits up to ten minutes while another program holds them).
# Build jobs: VEXEL_BUILD_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

# Wrong arguments and --help are answered before anything is built.
status=0
python3 tools/demo.py --check-arguments "$@" || status=$?
case $status in
  0) ;;
  10) exit 0 ;;  # the help was shown
  *) exit "$status" ;;
esac

export VEXEL_DEMO_STARTED=$(date +%s)
jobs=${VEXEL_BUILD_JOBS:-2}
logs=build/demo-logs
elapsed() { local s=$(( $(date +%s) - VEXEL_DEMO_STARTED )); printf '%d:%02d' $((s / 60)) $((s % 60)); }

# Runs a build step with its output appended to a log file; shows the log's
# end if it fails.
build() {
  local log=$1; shift
  if ! "$@" >>"$log" 2>&1; then
    echo "demo: FAILED: $* (the end of $log follows)" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

echo "== [1/10] setting up the machine: tools/setup.sh (Debian packages, idempotent)   ($(elapsed))"
bash tools/setup.sh

mkdir -p "$logs"
: >"$logs/windows.log"
: >"$logs/host.log"
echo
echo "== [2/10] building with $jobs parallel jobs (compiler output in $logs/)   ($(elapsed))"
echo "   build/windows: VexelPlayerUpdateService.exe and the wine helpers"
echo "     vexel-test-installer (the sample runtime installer), vexel-exitcode, vexel-svcquery, vexel-addroot"
build "$logs/windows.log" cmake --preset windows
build "$logs/windows.log" cmake --build --preset windows -j "$jobs" --target \
  VexelPlayerUpdateService vexel-test-installer vexel-exitcode vexel-svcquery vexel-addroot
echo "   build/host: vexel-publish (the publisher's toolkit) and vexel-log (the log reader)   ($(elapsed))"
build "$logs/host.log" cmake --preset host
build "$logs/host.log" cmake --build --preset host -j "$jobs" --target vexel-publish vexel-log
file build/windows/VexelPlayerUpdateService.exe | sed 's/^/   /'

exec python3 tools/demo.py "$@"
