#!/usr/bin/env bash
# setup.sh: builds the Wine root and makes the prefixes of the backend this
# machine takes (see backend.sh). Called by scripts/setup.sh; safe to run
# again. Nothing of Wine is installed into this machine's own system: only
# debootstrap and bubblewrap, which build and enter the root (and qemu for the
# box backend).
set -euo pipefail
. "$(dirname "$0")/../common.sh"
apt_install debootstrap bubblewrap
"$scripts_dir/wine/root.sh" >/dev/null
backend=$("$scripts_dir/wine/backend.sh")
case "$backend" in
  native)
    echo "setup: Wine backend: native (this machine runs 32-bit code, so the Wine root is entered natively)" ;;
  box)
    echo "setup: Wine backend: box (Wine runs in an emulated Debian machine booted from the Wine root)"
    "$scripts_dir/wine/box-image.sh" >/dev/null ;;
esac
