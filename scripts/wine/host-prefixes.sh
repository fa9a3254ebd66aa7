#!/usr/bin/env bash
# host-prefixes.sh: prints the folder that holds the two prepared Wine
# prefixes (win64, win32) of the host backend, making them first, natively in
# the Wine root, when they are missing. Making them is also the test that this
# machine runs the root's Wine: prepare-prefixes.sh checks that a 32-bit
# program (cmd /c) starts in each. Exit 1 when that fails. Kept in a cache
# outside the work tree, keyed by the root and the preparation script; every
# job works on a copy.
set -euo pipefail
. "$(dirname "$0")/../common.sh"
cache="$cache_root/wine-prefixes"
out="$cache/$(wine_prefixes_key)"
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi
root=$("$scripts_dir/wine/root.sh")
mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi
echo "wine: making the Wine prefixes natively in the Wine root (under a minute, once)" >&2
rm -rf "$out"; mkdir -p "$out/prefixes" "$out/job"
cp "$scripts_dir/wine/prepare-prefixes.sh" "$out/job/"
if ! "$scripts_dir/wine/enter.sh" "$root" "$out/prefixes" "$out/job" sh ./prepare-prefixes.sh /opt/prefixes >&2; then
  rm -rf "$out"
  echo "wine: the prefixes could not be made natively; the lines above say why" >&2
  exit 1
fi
rm -rf "$out/job"
mv "$out/prefixes/win64" "$out/prefixes/win32" "$out/" && rmdir "$out/prefixes"
touch "$out/ready"
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$(basename "$out")" -exec rm -rf {} +
echo "$out"
