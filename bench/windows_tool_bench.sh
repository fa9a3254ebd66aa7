#!/usr/bin/env bash
# The Windows tool (setup-package.exe under Wine, 64-bit prefix) against the
# Linux tool on the same 64 MiB program of real code (a Windows program, then
# this machine's own programs): build, then verify of the package it made,
# CPU time (user + system) by /usr/bin/time, the best of two rounds, as
# whole processes; beside it the same beyond each tool's start-up (a build
# and a verify of a 64 KiB program). Goal: the Windows tool at most 1.1
# times the Linux tool's CPU time, for build and for verify.
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/bench-windows-tool
rm -rf "$work"; mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
program() {  # program NAME BYTES: real code of that size
  cp build/windows/sample_setup32.exe "$work/$1"
  set +o pipefail  # head ends the pipe early on purpose
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c "$(($2 - $(stat -c %s "$work/$1")))" >>"$work/$1"
  set -o pipefail
}
program big.bin $((64 << 20))
program small.bin 65536
cp build/windows-tool/setup-package.exe build/windows-tool/launcher.exe "$work/"
# measure SIDE WHAT COMMAND...: the best of two rounds, "SIDE WHAT cpu-seconds"
cat >"$work/measure.sh" <<'SH'
measure() {
  side=$1 what=$2; shift 2
  best=""
  for round in 1 2; do
    /usr/bin/time -f '%U %S' -o one.time "$@" >/dev/null 2>&1 || echo "$side $what: exit code $?" >&2
    cpu=$(awk '{ print $1 + $2 }' one.time)
    if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$cpu; fi
  done
  echo "$side $what $best" >>figures.txt
}
SH
mkdir -p "$work/linux" "$work/windows"
(cd "$work" && . ./measure.sh &&
  for size in small big; do
    measure linux "build-$size" ../linux/bin/setup-package build -q --launcher launcher.exe --program32 "$size.bin" --output "linux/$size.exe"
    measure linux "verify-$size" ../linux/bin/setup-package verify -q "linux/$size.exe"
  done)
cat >"$work/job.sh" <<'JOB'
. ./wine-job.sh
. ./measure.sh
use_prefix win64
export WINEDEBUG=-all
start_servers
# The 64-bit loader itself: "wine" would start the 64-bit process as one
# that /usr/bin/time does not wait for, and count nothing of it.
wine64=/usr/lib/wine/wine64
"$wine64" ./setup-package.exe --version >/dev/null 2>&1   # warm-up
for size in small big; do
  measure windows "build-$size" "$wine64" ./setup-package.exe build -q --program32 "$size.bin" --output "windows/$size.exe"
  measure windows "verify-$size" "$wine64" ./setup-package.exe verify -q "windows/$size.exe"
done
cmp -s linux/big.exe windows/big.exe && echo "the same package from both tools" || echo "the packages differ"
stop_servers
JOB
backend=$(scripts/wine/backend.sh)
WINE_JOB_TIMEOUT=3600 scripts/wine/run.sh "$work"
echo "the Windows tool under Wine ($backend backend) against the Linux tool, a 64 MiB program:"
grep -v '^wine:' "$work/job.log" || true
python3 - "$work/figures.txt" <<'PY'
import sys
fig = {}
for line in open(sys.argv[1]):
    side, what, cpu = line.split()
    fig[(side, what)] = float(cpu)
for what in ("build", "verify"):
    w, l = fig[("windows", what + "-big")], fig[("linux", what + "-big")]
    ws, ls = fig[("windows", what + "-small")], fig[("linux", what + "-small")]
    print("  %-6s CPU: Windows tool %.2f s, Linux tool %.2f s: %.3f (goal at most 1.1: %s); beyond start-up "
          "(%.2f s and %.2f s) %.3f" % (what, w, l, w / l, "met" if w / l <= 1.1 else "not met", ws, ls,
                                        (w - ws) / (l - ls)))
PY
