#!/usr/bin/env bash
# native-enter.sh ROOT PREFIXES JOB_DIR COMMAND...: runs COMMAND natively
# inside the Wine root (root.sh), read-only, with JOB_DIR bound at /host (its
# current folder) and PREFIXES at /opt/prefixes, the places the emulated
# machine uses too, so a job sees the same paths on both backends. It also
# gets its own /proc, /dev and memory-backed /tmp, /run and home, no network,
# and a PID namespace: when COMMAND ends, every process it left (wineserver
# included) is ended with it, and nothing stays mounted.
set -euo pipefail
root=$1 prefixes=$2 job=$3
shift 3
command -v bwrap >/dev/null || { echo "wine: bwrap is missing (Debian's bubblewrap); run scripts/setup.sh" >&2; exit 1; }
exec bwrap --ro-bind "$root" / --proc /proc --dev /dev \
  --tmpfs /tmp --tmpfs /run --tmpfs /root --tmpfs /var/tmp \
  --bind "$prefixes" /opt/prefixes --bind "$job" /host --chdir /host \
  --unshare-pid --unshare-ipc --unshare-uts --unshare-net --die-with-parent \
  --clearenv --setenv PATH /usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin --setenv HOME /root \
  "$@"
