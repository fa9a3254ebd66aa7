#!/usr/bin/env bash
# box-image.sh: prints the folder of the emulated machine's image (box
# backend), building it first when it is missing: the Wine root (root.sh) as
# a disk image with its own kernel, booted by qemu-system under software
# emulation, for machines that cannot run 32-bit code themselves. The image
# holds two Wine prefixes, made inside the emulated machine:
# /opt/prefixes/win64 (64-bit Windows) and /opt/prefixes/win32 (32-bit
# Windows). Cached outside the work tree, keyed by the root, this script and
# prepare-prefixes.sh.
set -euo pipefail
. "$(dirname "$0")/../common.sh"

log() { echo "box: $*" >&2; }

build_image() {
  local out=$1 root job
  root=$("$scripts_dir/wine/root.sh")
  apt_install qemu-system-x86 e2fsprogs
  log "making the disk image from the Wine root"
  cp "$root"/boot/vmlinuz-* "$out/vmlinuz"
  cp "$root"/boot/initrd.img-* "$out/initrd.img"
  mkfs.ext4 -q -F -L winebox -d "$root" "$out/disk.img" 4G
  log "preparing the Wine prefixes inside the emulated machine (a few minutes)"
  job=$(mktemp -d)
  cp "$scripts_dir/wine/prepare-prefixes.sh" "$job/prepare-prefixes.sh"
  echo 'sh ./prepare-prefixes.sh /opt/prefixes' >"$job/job.sh"
  if ! BOX_WRITABLE=1 BOX_TIMEOUT=${BOX_PREPARE_TIMEOUT:-1800} "$scripts_dir/wine/box-run.sh" "$out" "$job" ||
     [ "$(cat "$job/job.rc" 2>/dev/null)" != 0 ]; then
    log "preparing the prefixes failed. The job's log:"
    sed 's/^/  /' "$job/job.log" >&2 2>/dev/null || log "(no job log)"
    log "the last lines of the emulated machine's console ($job/console.log):"
    tail -n 40 "$job/console.log" 2>/dev/null | sed 's/^/  /' >&2 || true
    return 1
  fi
  sed 's/^/box: /' "$job/job.log" >&2
  rm -rf "$job"
}

cached_build winebox "$( (wine_prefixes_key; cat "$scripts_dir/wine/box-image.sh") | sha256sum | cut -c1-12)" build_image
echo "$built"
