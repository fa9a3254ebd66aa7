#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test tier:
# unit and sequence tests (also under AddressSanitizer and
# UndefinedBehaviorSanitizer) and the end-to-end tests of the real
# launcher.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$jobs"
ctest --preset sanitize -j"$jobs"
ctest --preset host -j"$jobs"
