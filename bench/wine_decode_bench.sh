#!/usr/bin/env bash
# Times the real launcher under Wine on packages of 16 and 256 MiB of real
# executable code (the build machine's own programs), from start to the
# end of the run. The payload is no Windows program, so each run ends with
# the not-executed message right after writing the copy: the time is
# validation (CRC over the header only), decoding and writing.
# Wine runs in the emulated machine (scripts/winebox), so compare the two
# sizes with each other, not with host figures.
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/bench-wine
rm -rf "$work"; mkdir -p "$work"
head -c 65536 build/windows/sample_setup32.exe >"$work/code-0.bin"
build/host/setup-package build --launcher build/windows/launcher.exe --program32 "$work/code-0.bin" \
  --lzma-preset 1 --crc-reach 66 --output "$work/bench0.exe" >/dev/null
for mib in 16 256; do
  set +o pipefail  # head ends the pipe early on purpose
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c $((mib * 1048576)) >"$work/code-$mib.bin"
  set -o pipefail
  build/host/setup-package build --launcher build/windows/launcher.exe --program32 "$work/code-$mib.bin" \
    --lzma-preset 1 --crc-reach 66 --output "$work/bench$mib.exe" >/dev/null
  rm "$work/code-$mib.bin"
done
cat >"$work/job.sh" <<'JOB'
export WINEDLLOVERRIDES='mscoree,mshtml=' WINEPREFIX=/opt/prefixes/win64 HOME=/root WINEDEBUG=-all
unset DISPLAY
wineserver -p
cd /host
echo "  emulated processor: $(grep -m1 -o 'pclmulqdq' /proc/cpuinfo || echo 'no') carry-less multiplication"
wine ./bench16.exe >/dev/null 2>&1   # warm-up
rm -f "$WINEPREFIX"/drive_c/users/root/Temp/*
start=$(date +%s.%N); wine ./bench0.exe >/dev/null 2>&1; end=$(date +%s.%N)
base=$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')
echo "  start-up (a 64 KiB payload): $base s, subtracted below"
for mib in 16 256; do
  start=$(date +%s.%N)
  wine ./bench$mib.exe >/dev/null 2>&1
  end=$(date +%s.%N)
  rm -f "$WINEPREFIX"/drive_c/users/root/Temp/*
  awk -v s="$start" -v e="$end" -v b="$base" -v m="$mib" \
    'BEGIN { printf "  %3d MiB: %.2f s in all, %.1f ms/MiB beyond start-up\n", m, e - s, (e - s - b) * 1000 / m }'
done
wineserver -k
JOB
image=$(scripts/winebox/build.sh)
WINEBOX_TIMEOUT=3600 scripts/winebox/run.sh "$image" "$work"
echo "launcher under Wine (emulated machine), whole run to the not-executed message:"
cat "$work/job.log"
