#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test tier: a
# short fuzzing run, the unit and sequence tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and then on the normal host build the unit,
# sequence and package tool tests, the checks of the built executable and the
# end-to-end tests of the real launcher.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
scripts/build.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"

# The fuzz target over the seed corpus for about a minute (a long run: see README).
work=$(mktemp -d)
mkdir -p "$work/corpus"
trap 'rm -rf "$work"' EXIT
if ! build/fuzz/launcher_fuzz -max_total_time=60 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix=build/fuzz/ \
     "$work/corpus" fuzz/corpus >"$work/fuzz.log" 2>&1 <<<"" ; then
  tail -40 "$work/fuzz.log"
  echo "fuzzing found a failure" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' "$work/fuzz.log"

ctest --preset sanitize -j"$jobs"
ctest --preset host -j"$jobs"
