#!/usr/bin/env bash
# Every benchmark figure, with its goal beside it (a few minutes; no tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
echo "image: build/windows/launcher.exe, $(stat -c %s build/windows/launcher.exe) bytes (goal at most 65536 with the decoder, manifest and icon)"
echo
build/host/crc_bench
echo
build/host/decode_bench
echo
build/host/run_bench
echo
bench/wine_decode_bench.sh
