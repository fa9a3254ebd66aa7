#!/usr/bin/env bash
# Builds the emulated test machine of the "box" backend (scripts/wine): the
# Wine root (scripts/wine/root.sh) as a disk image with its own kernel, booted
# by qemu-system under software emulation, for machines that cannot run
# 32-bit code themselves. Prints the folder of the ready image, which holds
# two Wine prefixes, made inside the emulated machine: /opt/prefixes/win64
# (64-bit Windows) and /opt/prefixes/win32 (32-bit Windows). Cached outside
# the work tree, keyed by the root, this script and prepare-prefixes.sh.
set -euo pipefail
. "$(dirname "$0")/../common.sh"
cache=$cache_root/winebox
key=$( (wine_prefixes_key; cat "$scripts_dir/winebox/build.sh") | sha256sum | cut -c1-12)
out="$cache/$key"
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi
root=$("$scripts_dir/wine/root.sh")
apt_install qemu-system-x86 e2fsprogs
mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi

log() { echo "winebox: $*" >&2; }
log "making the disk image from the Wine root"
rm -rf "$out"; mkdir -p "$out"
cp "$root"/boot/vmlinuz-* "$out/vmlinuz"
cp "$root"/boot/initrd.img-* "$out/initrd.img"
mkfs.ext4 -q -F -L winebox -d "$root" "$out/disk.img" 4G

log "preparing the Wine prefixes inside the emulated machine (a few minutes)"
job=$(mktemp -d)
cp "$scripts_dir/wine/prepare-prefixes.sh" "$job/prepare-prefixes.sh"
cat >"$job/job.sh" <<'JOB'
# Prefixes are made on the guest's memory-backed /tmp, checked, then copied
# onto the image.
sh ./prepare-prefixes.sh /opt/prefixes
JOB
if ! WINEBOX_WRITABLE=1 WINEBOX_TIMEOUT=${WINEBOX_PREPARE_TIMEOUT:-1800} "$scripts_dir/winebox/run.sh" "$out" "$job" ||
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
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
echo "$out"
