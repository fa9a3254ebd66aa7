#!/usr/bin/env bash
# build's compression against xz: the same 64 MiB program (a Windows program
# followed by this machine's own programs, real code) compressed by
# `setup-package build` and by `xz --format=raw` with the same LZMA1
# settings (preset 6, the tool's default 4 MiB dictionary, lc 3 lp 0 pb 2),
# CPU time by /usr/bin/time, the best of three. Goal: build at most 1.05
# times xz. Then a package with two such programs (32- and 64-bit) on 1 and
# on 2 threads, wall time, the best of three. Goal: 2 threads at most 0.6
# times 1 thread on a machine with 2 cores.
set -euo pipefail
cd "$(dirname "$0")/.."
T=build/linux/bin/setup-package
work=build/bench-build
rm -rf "$work"; mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
program() {  # program SAMPLE OUT: SAMPLE followed by real code, 64 MiB in all
  cp "$1" "$2"
  set +o pipefail  # head ends the pipe early on purpose
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c "$((64 * 1048576 - $(stat -c %s "$1")))" >>"$2"
  set -o pipefail
}
program build/windows/sample_setup32.exe "$work/p32.exe"
program build/windows/sample_setup64.exe "$work/p64.exe"
mkdir -p "$work/t1" "$work/t2"  # the same name in two folders: the same bytes
best() {  # best FIELD COMMAND...: the least of three runs of FIELD (%U+%S or %e)
  local field=$1 least=""
  shift
  for round in 1 2 3; do
    /usr/bin/time -f "$field" -o "$work/time" "$@" >/dev/null 2>&1
    local t
    t=$(awk '{ print $1 + $2 }' "$work/time")
    if [ -z "$least" ] || awk -v a="$t" -v b="$least" 'BEGIN { exit !(a < b) }'; then least=$t; fi
  done
  echo "$least"
}
tool=$(best '%U %S' "$T" build -q --threads 1 --launcher build/windows/launcher.exe --program32 "$work/p32.exe" \
       --output "$work/one.exe")
xz=$(best '%U %S' sh -c "xz --format=raw --lzma1=preset=6,dict=4MiB,lc=3,lp=0,pb=2 -c '$work/p32.exe' >'$work/p32.raw'")
python3 - "$tool" "$xz" <<'PY'
import sys
tool, xz = map(float, sys.argv[1:])
print("build of a 64 MiB program: %.2f s CPU; xz --format=raw, the same settings: %.2f s; build/xz %.3f (goal at most 1.05: %s)"
      % (tool, xz, tool / xz, "met" if tool / xz <= 1.05 else "not met"))
PY
one=$(best '%e 0' "$T" build -q --threads 1 --launcher build/windows/launcher.exe --program32 "$work/p32.exe" \
      --program64 "$work/p64.exe" --output "$work/t1/two.exe")
two=$(best '%e 0' "$T" build -q --threads 2 --launcher build/windows/launcher.exe --program32 "$work/p32.exe" \
      --program64 "$work/p64.exe" --output "$work/t2/two.exe")
same=$(cmp -s "$work/t1/two.exe" "$work/t2/two.exe" && echo "the same bytes" || echo "DIFFERENT BYTES")
python3 - "$one" "$two" "$(nproc)" "$same" <<'PY'
import sys
one, two, cores, same = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
print("two 64 MiB programs: %.2f s on 1 thread, %.2f s on 2; 2/1 %.3f (goal at most 0.6 on 2 cores, here %d: %s); %s"
      % (one, two, two / one, cores, "met" if two / one <= 0.6 else "not met", same))
PY
