#!/usr/bin/env bash
# root.sh: prints the folder of the Wine root, building it first when it is
# missing. The root is the one place Wine lives, for both backends: Debian of
# this machine's suite with its kernel and Wine (wine, wine64, wine32:i386),
# installed from the suite's main index only. With no -security or -updates
# source its 32- and 64-bit halves always match, and every machine runs the
# same Wine, so what is recorded on one backend holds on the other. The
# native backend enters it (native-enter.sh); the box backend boots an image
# made from it (box-image.sh). Cached once per machine, keyed by this script
# and the emulated machine's init.
set -euo pipefail
. "$(dirname "$0")/../common.sh"

log() { echo "wine root: $*" >&2; }

build_root() {
  local out=$1 suite mirror root="$1/root"
  need_root
  apt_install debootstrap
  suite=$(debian_suite)
  mirror=$(debian_mirror "$suite")
  log "debootstrap $suite from $mirror (a few minutes, once)"
  debootstrap --variant=minbase --include=kmod,procps,ca-certificates,time,xz-utils \
    "$suite" "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log" >&2; return 1; }
  rm -f "$root"/etc/apt/sources.list.d/*
  echo "deb $mirror $suite main" >"$root/etc/apt/sources.list"
  log "installing the kernel and Wine in the root"
  chroot "$root" dpkg --add-architecture i386
  apt_update_retrying chroot "$root" >>"$out/chroot.log" 2>&1
  chroot "$root" /bin/sh -ec '
    export DEBIAN_FRONTEND=noninteractive
    mkdir -p /etc/initramfs-tools
    apt-get install -y -qq --no-install-recommends linux-image-amd64 initramfs-tools
    printf "virtio_blk\nvirtio_pci\next4\n9p\n9pnet_virtio\n" >>/etc/initramfs-tools/modules
    update-initramfs -u
    apt-get install -y -qq --no-install-recommends wine wine64 wine32:i386 libwine:i386
    apt-get clean
    rm -rf /var/lib/apt/lists/*
  ' >>"$out/chroot.log" 2>&1 || { tail -20 "$out/chroot.log" >&2; return 1; }
  # Where a job's folder and its prefixes are put, on either backend.
  mkdir -p "$root/host" "$root/opt/prefixes"
  install -m 755 "$scripts_dir/wine/box-init" "$root/sbin/box-init"
  log "ready: $(chroot "$root" wine --version 2>/dev/null || echo wine)"
}

cached_build wine-root "$(wine_root_key)" build_root
echo "$built/root"
