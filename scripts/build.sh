#!/usr/bin/env bash
# build.sh [HOST_TARGET...]: sets up what is missing and builds the Windows
# launcher (windows preset), the package tool for Windows and its zip
# (windows-tool preset) and the tools (linux preset; all of them, or only
# the targets named). Quiet unless something fails.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs" >/dev/null
cmake --preset windows-tool >/dev/null
cmake --build --preset windows-tool -j"$jobs" >/dev/null
(cd build/windows-tool && cpack -G ZIP >/dev/null)
cmake --preset linux >/dev/null
if [ $# -gt 0 ]; then
  cmake --build --preset linux -j"$jobs" --target "$@" >/dev/null
else
  cmake --build --preset linux -j"$jobs" >/dev/null
fi
