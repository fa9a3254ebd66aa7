#!/usr/bin/env bash
# setup.sh: installs what the chosen Wine backend needs (see backend.sh) and
# makes its prefixes once. Called by scripts/setup.sh; safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../apt.sh"
backend=$("$here/backend.sh")
case "$backend" in
  host)
    echo "setup: Wine backend: host (this machine runs 32-bit code, so Debian's Wine runs the launcher directly)"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      need_root
      dpkg --add-architecture i386
      apt_updated=0
    fi
    apt_install wine wine64 wine32:i386
    "$here/host-prefixes.sh" >/dev/null
    ;;
  box)
    echo "setup: Wine backend: box (this machine cannot run 32-bit code, so Wine runs in an emulated Debian machine)"
    apt_install qemu-system-x86 debootstrap e2fsprogs
    "$here/../winebox/build.sh" >/dev/null
    ;;
esac
