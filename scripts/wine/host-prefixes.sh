#!/usr/bin/env bash
# host-prefixes.sh: prints the folder that holds this machine's two prepared
# Wine prefixes (win64, win32) for the host backend, and makes them first when
# they are missing. They are kept in a cache outside the work tree, keyed by
# the preparation script and the installed Wine, and every job works on a copy.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v wine >/dev/null || { echo "wine: Wine is not installed; run scripts/setup.sh" >&2; exit 1; }
key=$( (cat "$here/prepare-prefixes.sh"; wine --version; id -u) | sha256sum | cut -c1-12)
if [ -w /var/cache ] || [ -w /var/cache/setup-launcher ]; then
  cache=/var/cache/setup-launcher/wine-prefixes
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/setup-launcher/wine-prefixes
fi
out="$cache/$key"
if [ ! -f "$out/ready" ]; then
  echo "wine: making the Wine prefixes in $out (a minute or two, once)" >&2
  rm -rf "$out"; mkdir -p "$out"
  if ! "$here/prepare-prefixes.sh" "$out" >&2; then
    rm -rf "$out"
    echo "wine: the prefixes could not be made; the lines above say why" >&2
    exit 1
  fi
  touch "$out/ready"
  find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
fi
echo "$out"
