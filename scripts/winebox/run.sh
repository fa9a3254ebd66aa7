#!/usr/bin/env bash
# run.sh IMAGE_DIR JOB_DIR: boots the test machine, which runs JOB_DIR/job.sh
# with JOB_DIR mounted at /host, and writes job.log and job.rc there. The disk
# is used as a snapshot (nothing the job does to it is kept) unless
# WINEBOX_WRITABLE=1.
set -euo pipefail
img=$1 job=$2
snapshot=on
[ "${WINEBOX_WRITABLE:-0}" = 1 ] && snapshot=off
rm -f "$job/job.rc"
timeout "${WINEBOX_TIMEOUT:-1800}" qemu-system-x86_64 \
  -machine q35 -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt,+pclmulqdq -smp "$(nproc)" -m 3072 -accel tcg,thread=multi \
  -kernel "$img/vmlinuz" -initrd "$img/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 init=/sbin/winebox-init quiet panic=-1 loglevel=3" \
  -drive "file=$img/disk.img,format=raw,if=virtio,snapshot=$snapshot" \
  -virtfs "local,path=$job,mount_tag=host,security_model=none" \
  -nic none -nographic -no-reboot -monitor none -serial "file:$job/console.log"
[ -f "$job/job.rc" ] || { echo "winebox: the job did not finish (see $job/console.log)" >&2; exit 1; }
