#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test tier: a
# short fuzzing run, the unit and sequence tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and then on the normal linux build the unit,
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

# The fuzz targets over the seed corpus, the launcher's for about a minute and
# the tool side's for half of one (a long run: see README).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in launcher_fuzz:60 tool_fuzz:30; do
  name=${target%%:*} seconds=${target##*:}
  mkdir -p "$work/$name"
  if ! "build/fuzz/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
       -artifact_prefix=build/fuzz/ "$work/$name" fuzz/corpus >"$work/$name.log" 2>&1 <<<"" ; then
    tail -40 "$work/$name.log"
    echo "fuzzing ($name) found a failure" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$work/$name.log"
done

ctest --preset sanitize -j"$jobs"
ctest --preset linux -j"$jobs"
