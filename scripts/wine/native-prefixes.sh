#!/usr/bin/env bash
# native-prefixes.sh: prints the folder that holds the two prepared Wine
# prefixes (win64, win32) of the native backend, making them first, natively
# in the Wine root, when they are missing. Making them is also the test that
# this machine runs the root's Wine: prepare-prefixes.sh checks that a 32-bit
# program (cmd /c) starts in each. Exit 1 when that fails. Kept in a cache
# outside the work tree, keyed by the root and the preparation script; every
# job works on a copy.
set -euo pipefail
. "$(dirname "$0")/../common.sh"

build_prefixes() {
  local out=$1 root
  root=$("$scripts_dir/wine/root.sh")
  echo "wine: making the Wine prefixes natively in the Wine root (under a minute, once)" >&2
  mkdir -p "$out/prefixes" "$out/job"
  cp "$scripts_dir/wine/prepare-prefixes.sh" "$out/job/"
  if ! "$scripts_dir/wine/native-enter.sh" "$root" "$out/prefixes" "$out/job" sh ./prepare-prefixes.sh /opt/prefixes >&2; then
    echo "wine: the prefixes could not be made natively; the lines above say why" >&2
    return 1
  fi
  rm -rf "$out/job"
  mv "$out/prefixes/win64" "$out/prefixes/win32" "$out/"
  rmdir "$out/prefixes"
}

cached_build wine-prefixes "$(wine_prefixes_key)" build_prefixes
echo "$built"
