#!/usr/bin/env bash
# reproducible.sh SOURCE_DIR BUILT_EXE: builds the launcher again in a clean
# folder elsewhere and compares the bytes.
set -euo pipefail
src=$1 built=$2
other=$(mktemp -d)
trap 'rm -rf "$other"' EXIT
cmake -S "$src" -B "$other" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$other" --target launcher -j"$(nproc)" >/dev/null
if cmp "$built" "$other/launcher.exe"; then
  echo "reproducible: $(stat -c %s "$built") bytes, identical"
else
  echo "the second build differs" >&2
  exit 1
fi
