#!/usr/bin/env bash
# box-run.sh IMAGE_DIR JOB_DIR: boots the emulated machine (box backend),
# which runs JOB_DIR/job.sh with JOB_DIR mounted at /host, and writes job.log
# and job.rc there (console.log holds what the machine printed). The disk is
# used as a snapshot (nothing the job does to it is kept) unless
# BOX_WRITABLE=1. A machine that has not powered off after BOX_TIMEOUT
# seconds (default 1800) is stopped, and the run fails with a message saying
# so.
set -euo pipefail
img=$1 job=$2
limit=${BOX_TIMEOUT:-1800}
snapshot=on
[ "${BOX_WRITABLE:-0}" = 1 ] && snapshot=off
rm -f "$job/job.rc" "$job/console.log"
rc=0
timeout "$limit" qemu-system-x86_64 \
  -machine q35 -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt,+pclmulqdq -smp "$(nproc)" -m 3072 -accel tcg,thread=multi \
  -kernel "$img/vmlinuz" -initrd "$img/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 init=/sbin/box-init quiet panic=-1 loglevel=3" \
  -drive "file=$img/disk.img,format=raw,if=virtio,snapshot=$snapshot" \
  -virtfs "local,path=$job,mount_tag=host,security_model=none" \
  -nic none -nographic -no-reboot -monitor none -serial "file:$job/console.log" || rc=$?
console_tail() { tail -n 25 "$job/console.log" 2>/dev/null | sed 's/^/  console: /' >&2 || true; }
if [ $rc -eq 124 ]; then
  echo "box: the emulated machine was still running after its time limit of $limit s and was stopped" \
       "(WINE_JOB_TIMEOUT sets the limit; a busy machine is slower). Its console:" >&2
  console_tail
  exit 1
fi
if [ ! -f "$job/job.rc" ]; then
  echo "box: the emulated machine ended (qemu exit $rc) before the job finished. Its console:" >&2
  console_tail
  exit 1
fi
