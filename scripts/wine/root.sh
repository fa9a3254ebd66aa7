#!/usr/bin/env bash
# root.sh: prints the folder of the Wine root, building it first when it is
# missing. The root is the one place Wine lives, for both backends: Debian of
# this machine's suite with its kernel and Wine (wine, wine64, wine32:i386),
# installed from the suite's main index only. With no -security or -updates
# source its 32- and 64-bit halves always match, and every machine runs the
# same Wine, so what is recorded on one backend holds on the other. The host
# backend enters it natively (enter.sh); the box backend boots an image made
# from it (scripts/winebox). Cached once per machine, keyed by this script and
# the emulated machine's init.
set -euo pipefail
. "$(dirname "$0")/../common.sh"
key=$(wine_root_key)
cache="$cache_root/wine-root"
out="$cache/$key"
if [ -f "$out/ready" ]; then echo "$out/root"; exit 0; fi

log() { echo "wine root: $*" >&2; }
need_root
mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
if [ -f "$out/ready" ]; then echo "$out/root"; exit 0; fi
apt_install debootstrap

suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(debian_mirror "$suite")
rm -rf "$out"; mkdir -p "$out"
root="$out/root"
log "debootstrap $suite from $mirror (a few minutes, once)"
debootstrap --variant=minbase --include=kmod,procps,ca-certificates,time,xz-utils \
  "$suite" "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
  { tail -20 "$out/debootstrap.log" >&2; exit 1; }
rm -f "$root"/etc/apt/sources.list.d/*
echo "deb $mirror $suite main" >"$root/etc/apt/sources.list"
log "installing the kernel and Wine in the root"
# A mirror that is being synced answers with index files of the wrong size
# for a while: apt-get update is tried three times, then the install goes on
# with the indexes it has (and fails by itself if what it needs is missing).
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
# Where a job's folder and its prefixes are put, on either backend.
mkdir -p "$root/host" "$root/opt/prefixes"
install -m 755 "$scripts_dir/winebox/guest-init" "$root/sbin/winebox-init"
touch "$out/ready"
# Roots made by older scripts are of no further use.
find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
log "ready: $(chroot "$root" wine --version 2>/dev/null || echo wine)"
echo "$root"
