#!/usr/bin/env bash
# Builds the test machine for the end-to-end tier: a small Debian (amd64,
# with Wine and its 32-bit part) in a disk image, booted by qemu-system under
# software emulation. It exists because this kind of build machine cannot run
# 32-bit code itself, and the launcher is a 32-bit program. The image holds two
# ready Wine prefixes: /opt/prefixes/win64 (64-bit Windows) and
# /opt/prefixes/win32 (32-bit Windows).
#
# The image is cached outside the work tree, keyed by the hash of this folder,
# so that every clone on this machine shares it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
key=$(cat "$here/build.sh" "$here/guest-init" "$here/prepare-prefixes.sh" | sha256sum | cut -c1-12)
cache=${WINEBOX_CACHE:-/var/cache/setup-launcher/winebox}
out="$cache/$key"
if [ -f "$out/ready" ]; then echo "$out"; exit 0; fi

log() { echo "winebox: $*" >&2; }
mkdir -p "$cache"
root="$out/root"
if [ ! -f "$out/disk.img" ]; then
rm -rf "$out"; mkdir -p "$out"

# The guest uses the same Debian sources as this machine.
sources=/etc/apt/sources.list.d/debian.sources
mirror=$(awk '/^URIs:/ {print $2; exit}' "$sources")
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
log "debootstrap $suite (a few minutes)"
debootstrap --variant=minbase --include=kmod,procps,ca-certificates "$suite" "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
  { tail -20 "$out/debootstrap.log" >&2; exit 1; }
cp "$sources" "$root/etc/apt/sources.list.d/debian.sources"
rm -f "$root/etc/apt/sources.list"
log "installing kernel and Wine in the guest (a few minutes)"
chroot "$root" /bin/sh -ec '
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt-get update -qq
  mkdir -p /etc/initramfs-tools
  apt-get install -y -qq --no-install-recommends linux-image-amd64 initramfs-tools
  printf "virtio_blk\nvirtio_pci\next4\n9p\n9pnet_virtio\n" >>/etc/initramfs-tools/modules
  update-initramfs -u
  apt-get install -y -qq --no-install-recommends wine wine64 wine32:i386 libwine:i386
  apt-get clean
  rm -rf /var/lib/apt/lists/*
' >"$out/chroot.log" 2>&1 || { tail -20 "$out/chroot.log" >&2; exit 1; }
install -m 755 "$here/guest-init" "$root/sbin/winebox-init"
cp "$root"/boot/vmlinuz-* "$out/vmlinuz"
cp "$root"/boot/initrd.img-* "$out/initrd.img"
log "making the disk image"
mkfs.ext4 -q -F -L winebox -d "$root" "$out/disk.img" 4G
rm -rf "$root"
fi

log "preparing the Wine prefixes inside the guest (a few minutes)"
job=$(mktemp -d)
cp "$here/prepare-prefixes.sh" "$job/job.sh"
WINEBOX_WRITABLE=1 "$here/run.sh" "$out" "$job" || { cat "$job/job.log" >&2 || true; exit 1; }
[ "$(cat "$job/job.rc" 2>/dev/null)" = 0 ] || { cat "$job/job.log" >&2; exit 1; }
rm -rf "$job"
touch "$out/ready"
# Older images are of no further use.
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
echo "$out"
