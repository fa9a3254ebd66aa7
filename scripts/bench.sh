#!/usr/bin/env bash
# Every benchmark figure, with its goal beside it (a few minutes; no tests).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
. scripts/common.sh
size=$(stat -c %s build/windows/launcher.exe) budget=$(image_budget)
echo "image: build/windows/launcher.exe, $size bytes (goal at most $budget, with the decoder, manifest and icon: $([ "$size" -le "$budget" ] && echo met || echo not met))"
bench/size_report.py build/windows/launcher.map
echo
build/linux/args_bench
echo
build/linux/crc_bench
echo
build/linux/decode_bench
echo
build/linux/run_bench
echo
bench/tool_bench.sh
echo
bench/build_bench.sh
echo
bench/windows_tool_bench.sh
echo
bench/wine_decode_bench.sh
