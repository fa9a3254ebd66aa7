#!/usr/bin/env bash
# The package tool on packages that are small on disk and large inside:
# a program that decodes to 1 GiB (a bomb: a Windows program padded with
# zeros), one of 1.5 GiB (between the 1 GiB a tool once stopped at and the
# format's 2 GiB), a version message of 10,922 "%USER%" shown on most rows,
# and 1.5 GiB of setup data under the CRC (--crc-reach whole). For each: extract, inspect and verify as whole processes, wall time
# and peak memory by /usr/bin/time. Goal: verify at most twice extract in
# time and in memory, on every one; every row of verify with a verdict.
# First, build itself on the largest program the format takes (2 GiB - 1)
# at the default settings. Goal: peak memory under 512 MiB.
set -euo pipefail
cd "$(dirname "$0")/.."
T=build/linux/bin/setup-package
work=build/bench-tool
rm -rf "$work"; mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

make_package() {  # NAME PROGRAM_BYTES [build options...]
  local name=$1 bytes=$2
  shift 2
  cp build/windows/sample_setup32.exe "$work/program.exe"
  truncate -s "$bytes" "$work/program.exe"
  "$T" build -q --launcher build/windows/launcher.exe --program32 "$work/program.exe" \
    --dictionary $((64 << 20)) --output "$work/$name.exe" "$@"
  rm "$work/program.exe"
}

measure() {  # COMMAND... : prints "SECONDS KB"
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>/dev/null || true
  cat "$work/time"
}

cp build/windows/sample_setup32.exe "$work/program.exe"
truncate -s $(((2 << 30) - 1)) "$work/program.exe"
read -r bs bm < <(measure "$T" build -q --launcher build/windows/launcher.exe --program32 "$work/program.exe" \
                          --output "$work/largest.exe")
rm -f "$work/program.exe" "$work/largest.exe"
printf 'build of a 2 GiB - 1 program: %s s, %d MB peak (goal: under 512 MiB: %s)\n' "$bs" $((bm / 1024)) \
  "$( ((bm < 512 * 1024)) && echo met || echo not met)"

make_package bomb-1gib $((1 << 30))
make_package program-1.5gib $((3 << 29))
python3 -c "print('%USER%' * 10922, end='')" >"$work/message.txt"
make_package user-message 65536 --versions "Windows 10" --version-message-file "$work/message.txt"
truncate -s $((3 << 29)) "$work/data.bin"
make_package crc-1.5gib 65536 --setup-data "$work/data.bin" --crc-reach whole
rm "$work/data.bin"

printf '%-16s %10s %10s  %10s %10s  %10s %10s  %s\n' package "extract s" "MB" "inspect s" "MB" "verify s" "MB" "goal"
for name in bomb-1gib program-1.5gib user-message crc-1.5gib; do
  rm -rf "$work/out-$name"
  read -r es em < <(measure "$T" extract "$work/$name.exe" --output-dir "$work/out-$name")
  rm -rf "$work/out-$name"
  read -r is im < <(measure "$T" inspect "$work/$name.exe")
  read -r vs vm < <(measure "$T" verify --json "$work/$name.exe")
  unchecked=$(python3 -c 'import json,sys; print(sum(r["outcome"] not in ("runs","message","runtime error") for r in json.load(open(sys.argv[1]))["rows"]))' "$work/out")
  met=$(python3 -c "import sys; e,em,v,vm=map(float,sys.argv[1:]); print('met' if v <= 2*max(e,0.05) and vm <= 2*em else 'not met')" \
        "$es" "$em" "$vs" "$vm")
  printf '%-16s %10s %10d  %10s %10d  %10s %10d  %s (rows without a verdict: %s)\n' "$name" "$es" $((em / 1024)) \
    "$is" $((im / 1024)) "$vs" $((vm / 1024)) "$met" "$unchecked"
done
