#!/usr/bin/env bash
# Every benchmark figure, with its goal beside it (a few minutes; no tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
size=$(stat -c %s build/windows/launcher.exe)
echo "image: build/windows/launcher.exe, $size bytes (goal at most 49152, 48 KiB, with the decoder, manifest and icon: $([ "$size" -le 49152 ] && echo met || echo not met))"
echo
build/host/args_bench
echo
build/host/crc_bench
echo
build/host/decode_bench
echo
build/host/run_bench
echo
bench/wine_decode_bench.sh
