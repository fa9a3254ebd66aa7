#!/usr/bin/env bash
# Decoding figures of the real launcher.exe under Wine, from packages of 16,
# 64 and 256 MiB of real executable code (this machine's own programs), side
# by side with xz (a 64-bit liblzma) decoding the same stream on this machine:
#  - launcher.exe, whole run from start to the point where it starts the setup
#    program (the payload is no Windows program, so the run ends there with
#    the not-executed message): wall time beyond the start-up of a run with a
#    tiny payload and, where /usr/bin/time is there, CPU time and peak memory
#    against the floor (compressed + uncompressed + dictionary);
#  - the launcher's decoding step in-process (build/windows/win_decode_bench.exe).
# Goals (issue figures): whole-job CPU at most 1.30 times xz's, flat from 16 to
# 256 MiB (within 10 %), peak memory at most the floor plus 4 MiB.
# On the box backend Wine runs in the emulated machine: there, compare the
# launcher's sizes with each other, not with xz on the host.
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/bench-wine
rm -rf "$work"; mkdir -p "$work"
dictionary=$((4 * 1048576))
package() {  # package NAME BYTES
  set +o pipefail  # head ends the pipe early on purpose
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c "$2" >"$work/code.bin"
  set -o pipefail
  build/host/setup-package build --launcher build/windows/launcher.exe --program32 "$work/code.bin" \
    --lzma-preset 1 --dictionary "$dictionary" --crc-reach 66 --output "$work/$1.exe" >/dev/null
  rm "$work/code.bin"
  # The same stream as a .lzma file for xz.
  build/host/setup-package inspect --json "$work/$1.exe" | python3 -c '
import json, struct, sys
h = json.load(sys.stdin)["header"]; p = h["payload32"]
props = (h["pb"] * 5 + h["lp"]) * 9 + h["lc"]
with open(sys.argv[1], "rb") as f:
    f.seek(p["offset"]); stream = f.read(p["compressedSize"])
with open(sys.argv[2], "wb") as out:
    out.write(struct.pack("<BIQ", props, h["dictionarySize"], p["uncompressedSize"]) + stream)
with open(sys.argv[3], "a") as sizes:
    sizes.write("%s %d %d\n" % (sys.argv[4], p["compressedSize"], p["uncompressedSize"]))
' "$work/$1.exe" "$work/$1.lzma" "$work/sizes.txt" "$1"
}
package bench0 65536
for mib in 16 64 256; do package "bench$mib" $((mib * 1048576)); done
cp build/windows/win_decode_bench.exe "$work/"

echo "xz --format=lzma -dc on this machine (64-bit liblzma), CPU per MiB:"
for mib in 16 64 256; do
  /usr/bin/time -f '%U %S' -o "$work/xz$mib.time" xz --format=lzma -dc "$work/bench$mib.lzma" >/dev/null
  awk -v m="$mib" '{ printf "  %3d MiB: %.1f ms/MiB\n", m, ($1 + $2) * 1000 / m }' "$work/xz$mib.time"
  rm "$work/bench$mib.lzma"
done

cat >"$work/job.sh" <<'JOB'
export WINEDLLOVERRIDES='mscoree,mshtml=' WINEPREFIX=$WINE_PREFIXES/win64 WINEDEBUG=-all
wineserver -p
echo "  processor: $(grep -m1 -o 'pclmulqdq' /proc/cpuinfo || echo 'no') carry-less multiplication"
temp=$WINEPREFIX/drive_c/users/$WINE_USER/Temp
timed() {  # timed NAME: wall seconds, and "user sys peak-KiB" where /usr/bin/time is there
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%U %S %M' -o "$1.time" wine "./$1.exe" >/dev/null 2>&1
  else
    wine "./$1.exe" >/dev/null 2>&1; echo "- - -" >"$1.time"
  fi
  rm -f "$temp"/*
}
timed bench0   # warm-up
start=$(date +%s.%N); timed bench0; end=$(date +%s.%N)
base=$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')
echo "launcher.exe, whole run (start-up with a 64 KiB payload: $base s wall, subtracted):"
for mib in 16 64 256; do
  start=$(date +%s.%N); timed "bench$mib"; end=$(date +%s.%N)
  read -r user sys peak <"bench$mib.time"
  awk -v s="$start" -v e="$end" -v b="$base" -v m="$mib" -v u="$user" -v y="$sys" -v p="$peak" 'BEGIN {
    printf "  %3d MiB: %.2f s wall, %.1f ms/MiB beyond start-up", m, e - s, (e - s - b) * 1000 / m
    if (u != "-") printf "; CPU %.1f ms/MiB; peak %.1f MiB", (u + y) * 1000 / m, p / 1024
    printf "\n" }'
done
echo "decoding step in-process (second of two decodes):"
wine ./win_decode_bench.exe bench16.exe bench64.exe bench256.exe 2>/dev/null | tr -d '\r'
wineserver -k
JOB
backend=$(scripts/wine/backend.sh)
WINE_JOB_TIMEOUT=3600 scripts/wine/run.sh "$work"
echo "under Wine ($backend backend):"
cat "$work/job.log"
python3 - "$work/job.log" "$work/sizes.txt" "$dictionary" "$work" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
sizes = {int(n[5:]): (int(c), int(u)) for n, c, u in (l.split() for l in open(sys.argv[2])) if n != "bench0"}
dictionary = int(sys.argv[3])
xz = {}
for m in sizes:
    u, s = open("%s/xz%d.time" % (sys.argv[4], m)).read().split()
    xz[m] = (float(u) + float(s)) * 1000 / m
cpu = {int(m): float(c) for m, c in re.findall(r"(\d+) MiB: .*CPU ([\d.]+) ms/MiB", text)}
peak = {int(m): float(p) * 1048576 for m, p in re.findall(r"(\d+) MiB: .*peak ([\d.]+) MiB", text)}
if not cpu:
    print("goals: CPU and peak memory need /usr/bin/time where Wine runs (not in the emulated machine)")
    sys.exit(0)
for m in sorted(cpu):
    ratio = cpu[m] / xz[m]
    print("  %3d MiB: CPU %.2fx xz's (goal at most 1.30x: %s)" % (m, ratio, "met" if ratio <= 1.30 else "not met"))
print("  flat from 16 to 256 MiB: %.2fx (goal within 10 %%: %s)" % (cpu[256] / cpu[16], "met" if cpu[256] <= 1.1 * cpu[16] else "not met"))
for m in sorted(peak):
    c, u = sizes[m]
    floor = c + u + min(dictionary, u)
    over = (peak[m] - floor) / 1048576
    print("  %3d MiB: peak %.1f MiB over the floor of %.1f MiB (goal at most 4 MiB, a whole Wine process included: %s)" % (m, over, floor / 1048576, "met" if over <= 4 else "not met"))
PY
