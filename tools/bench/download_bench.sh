#!/usr/bin/env bash
# Benchmark, not a test: the host build's package download against curl and
# openssl doing the same work in the same run on the same machine.
#
#   tools/bench/download_bench.sh [SIZE_MIB]      (default 64)
#
# Makes a package of SIZE_MIB random bytes signed through the host build's
# development authority, serves it over plain HTTP on loopback (a free port,
# tests/e2e/servers.py), then
#   ours:      vexel-download-bench: download into a temporary folder, read
#              back, verify the signature and chain, write the installer;
#   reference: curl -o FILE, then openssl smime -verify ... -out INSTALLER;
# checks that both wrote the signed content, and prints the wall-clock times,
# their ratio (ours / reference) and the peak memory (maximum resident set
# size from /usr/bin/time -v) of each. Needs the host build
# (cmake --preset host && cmake --build --preset host).
set -euo pipefail

size_mib="${1:-64}"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
build="$source_dir/build/host"
bench="$build/tools/vexel-download-bench"
authority="$build/development-authority"
for f in "$bench" "$authority/authority.pem" "$authority/authority.key"; do
  [ -e "$f" ] || { echo "download_bench: $f missing: build the host preset first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "download_bench: /usr/bin/time missing: run tools/setup.sh" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/vexel-bench-XXXXXX")"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "download_bench: making a signed package of $size_mib MiB"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/content.bin"
cat > "$work/signer.ext" <<'EXT'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
EXT
openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=Vexel Benchmark Signer" \
  -keyout "$work/signer.key" -out "$work/signer.csr" 2>/dev/null
openssl x509 -req -in "$work/signer.csr" -sha256 -days 2 -CA "$authority/authority.pem" \
  -CAkey "$authority/authority.key" -set_serial "$(date +%s%N)" -extfile "$work/signer.ext" \
  -out "$work/signer.pem" 2>/dev/null
openssl smime -sign -binary -nodetach -outform DER -md sha256 -in "$work/content.bin" \
  -signer "$work/signer.pem" -inkey "$work/signer.key" -out "$work/package.p7"

path=/pub/vexelplayer/update/current/sau/11/beta/install/install_all_win_ax_sgn.z
python3 "$source_dir/tests/e2e/servers.py" serve --dir "$work/servers" --lifetime 900 \
  --package "$path=$work/package.p7" > "$work/servers.json" &
server_pid=$!
for _ in $(seq 1 600); do [ -s "$work/servers.json" ] && break; sleep 0.1; done
port="$(python3 -c 'import json,sys; print(json.loads(open(sys.argv[1]).readline())["VEXEL_TEST_HTTP_PORT"])' \
  "$work/servers.json")"

# Runs a command under /usr/bin/time -v in folder $1; prints "SECONDS KIB".
measure() {
  local folder="$1"; shift
  mkdir -p "$folder"
  (cd "$folder" && /usr/bin/time -v -o "$folder/time.txt" "$@" > "$folder/out.txt" 2>&1) || {
    echo "download_bench: failed in $folder:" >&2; cat "$folder/out.txt" "$folder/time.txt" >&2
    if [ -f "$folder/Kestran/Vexel/VexelInstall.log" ]; then
      iconv -f UTF-16LE -t UTF-8 "$folder/Kestran/Vexel/VexelInstall.log" >&2
    fi
    exit 1
  }
  python3 - "$folder/time.txt" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", text).group(1)
seconds = 0.0
for part in wall.split(":"):
    seconds = seconds * 60 + float(part)
kib = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
print(f"{seconds:.3f} {kib}")
PY
}

mkdir -p "$work/ours/Kestran/Vexel"
read -r ours_s ours_kib < <(measure "$work/ours" "$bench" localhost "$port" "$path")
read -r ref_s ref_kib < <(measure "$work/reference" sh -c \
  "curl -sS -f -o package.p7 'http://127.0.0.1:$port$path' && \
   openssl smime -verify -binary -inform DER -in package.p7 -CAfile '$authority/authority.pem' -purpose any \
     -out VexelPlayerInstaller.exe")

cmp -s "$work/content.bin" "$work/ours/VexelPlayerInstaller.exe" || { echo "download_bench: ours wrote other bytes" >&2; exit 1; }
cmp -s "$work/content.bin" "$work/reference/VexelPlayerInstaller.exe" || { echo "download_bench: the reference wrote other bytes" >&2; exit 1; }

python3 - "$size_mib" "$ours_s" "$ours_kib" "$ref_s" "$ref_kib" <<'PY'
import sys
size, ours_s, ours_kib, ref_s, ref_kib = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5])
print(f"download_bench: {size} MiB package, downloaded over loopback HTTP, verified and written")
print(f"  ours (vexel-download-bench)       {ours_s:8.3f} s   peak memory {ours_kib / 1024:8.1f} MiB")
print(f"  reference (curl + openssl smime)  {ref_s:8.3f} s   peak memory {ref_kib / 1024:8.1f} MiB")
print(f"  time ratio ours / reference: {ours_s / ref_s:.2f}" if ref_s > 0 else "  time ratio: reference too fast to measure")
print(f"  memory ratio ours / reference: {ours_kib / ref_kib:.2f}")
PY
