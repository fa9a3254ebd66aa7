#!/usr/bin/env bash
# Builds the emulated test machine of the "box" backend (scripts/wine): a
# small Debian (amd64, with Wine and its 32-bit part) in a disk image, booted
# by qemu-system under software emulation, for build machines that cannot run
# 32-bit code themselves. Prints the folder of the ready image, which holds
# two Wine prefixes: /opt/prefixes/win64 (64-bit Windows) and
# /opt/prefixes/win32 (32-bit Windows).
#
# Two layers, each cached outside the work tree so that every clone on this
# machine shares them:
#   base-KEY   Debian, its kernel and Wine (debootstrap; several minutes),
#              keyed by this script's base part and guest-init;
#   KEY        the base with the prepared prefixes, keyed by the base and
#              prepare-prefixes.sh, so that the prefixes can be made again
#              without debootstrap.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${WINEBOX_CACHE:-/var/cache/setup-launcher/winebox}
base_key=$(cat "$here/build-base.sh" "$here/guest-init" | sha256sum | cut -c1-12)
key=$( (echo "$base_key"; cat "$here/build.sh" "$here/../wine/prepare-prefixes.sh") | sha256sum | cut -c1-12)
out="$cache/$key"
base="$cache/base-$base_key"
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi

log() { echo "winebox: $*" >&2; }
mkdir -p "$cache"
[ -f "$base/ready" ] || "$here/build-base.sh" "$base"

log "preparing the Wine prefixes inside the emulated machine (a few minutes)"
rm -rf "$out"; mkdir -p "$out"
cp "$base/vmlinuz" "$base/initrd.img" "$out/"
cp --sparse=always "$base/disk.img" "$out/disk.img"
job=$(mktemp -d)
cp "$here/../wine/prepare-prefixes.sh" "$job/prepare-prefixes.sh"
cat >"$job/job.sh" <<'JOB'
# Prefixes are made on the guest's memory-backed /tmp, checked, then copied
# onto the image.
sh ./prepare-prefixes.sh /opt/prefixes
JOB
if ! WINEBOX_WRITABLE=1 WINEBOX_TIMEOUT=${WINEBOX_PREPARE_TIMEOUT:-1800} "$here/run.sh" "$out" "$job" ||
   [ "$(cat "$job/job.rc" 2>/dev/null)" != 0 ]; then
  log "preparing the prefixes failed. The job's log:"
  sed 's/^/  /' "$job/job.log" >&2 2>/dev/null || log "(no job log)"
  log "the last lines of the emulated machine's console ($job/console.log):"
  tail -n 40 "$job/console.log" 2>/dev/null | sed 's/^/  /' >&2 || true
  rm -rf "$out"
  exit 1
fi
sed 's/^/winebox: /' "$job/job.log" >&2
rm -rf "$job"
touch "$out/ready"
# Older images are of no further use.
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" ! -name "base-$base_key" -exec rm -rf {} +
echo "$out"
