#!/usr/bin/env bash
# build-base.sh OUT: the base layer of the emulated test machine: Debian with
# its kernel and Wine (wine, wine64, wine32:i386) in OUT/disk.img, with
# OUT/vmlinuz and OUT/initrd.img beside it. Called by build.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
log() { echo "winebox: $*" >&2; }
rm -rf "$out"; mkdir -p "$out"
root="$out/root"

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
# A mirror that is being synced answers with index files of the wrong size
# for a while, and some mirrors keep one index wrong for days: apt-get update
# is tried three times, then the install goes on with the indexes it has (and
# fails by itself if what it needs is not among them).
chroot "$root" /bin/sh -ec '
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  for try in 1 2 3; do
    if apt-get update -qq; then break; fi
    if [ $try -eq 3 ]; then echo "apt-get update failed three times; going on with the indexes it fetched"; break; fi
    echo "apt-get update failed; trying again in $((try * 15)) s"; sleep $((try * 15))
  done
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
touch "$out/ready"
