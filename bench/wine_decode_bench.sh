#!/usr/bin/env bash
# Decoding figures under Wine, from packages of 16, 64 and 256 MiB of real
# executable code (this machine's own programs):
#  - the real launcher.exe, whole run from start to the point where it starts
#    the setup program (the payload is no Windows program, so the run ends
#    there with the not-executed message), less the start-up time of a run
#    with a tiny payload;
#  - the launcher's decoding step in-process (build/windows/win_decode_bench.exe),
#    which leaves out process start-up and the emulator's first translation
#    of the code.
# On the box backend Wine runs in the emulated machine (scripts/wine): there,
# compare the sizes with each other, not with the host. On the host backend the
# figures are the real executable's.
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/bench-wine
rm -rf "$work"; mkdir -p "$work"
package() {  # package NAME BYTES
  set +o pipefail  # head ends the pipe early on purpose
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c "$2" >"$work/code.bin"
  set -o pipefail
  build/host/setup-package build --launcher build/windows/launcher.exe --program32 "$work/code.bin" \
    --lzma-preset 1 --crc-reach 66 --output "$work/$1.exe" >/dev/null
  rm "$work/code.bin"
}
package bench0 65536
for mib in 16 64 256; do package "bench$mib" $((mib * 1048576)); done
cp build/windows/win_decode_bench.exe "$work/"
cat >"$work/job.sh" <<'JOB'
export WINEDLLOVERRIDES='mscoree,mshtml=' WINEPREFIX=$WINE_PREFIXES/win64 WINEDEBUG=-all
wineserver -p
echo "  processor: $(grep -m1 -o 'pclmulqdq' /proc/cpuinfo || echo 'no') carry-less multiplication"
temp=$WINEPREFIX/drive_c/users/$WINE_USER/Temp
wine ./bench0.exe >/dev/null 2>&1; rm -f "$temp"/*   # warm-up
start=$(date +%s.%N); wine ./bench0.exe >/dev/null 2>&1; end=$(date +%s.%N); rm -f "$temp"/*
base=$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')
echo "launcher.exe, whole run (start-up with a 64 KiB payload: $base s, subtracted):"
for mib in 16 64 256; do
  start=$(date +%s.%N); wine ./bench$mib.exe >/dev/null 2>&1; end=$(date +%s.%N); rm -f "$temp"/*
  awk -v s="$start" -v e="$end" -v b="$base" -v m="$mib" \
    'BEGIN { printf "  %3d MiB: %.2f s in all, %.1f ms/MiB beyond start-up\n", m, e - s, (e - s - b) * 1000 / m }'
done
echo "decoding step in-process (second of two decodes):"
wine ./win_decode_bench.exe bench16.exe bench64.exe bench256.exe 2>/dev/null | tr -d '\r'
wineserver -k
JOB
backend=$(scripts/wine/backend.sh)
WINE_JOB_TIMEOUT=3600 scripts/wine/run.sh "$work"
echo "under Wine ($backend backend):"
cat "$work/job.log"
