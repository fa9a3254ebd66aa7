#!/usr/bin/env bash
# run.sh JOB_DIR: runs JOB_DIR/job.sh under Wine on the backend that
# backend.sh chooses, and leaves job.log (its output) and job.rc (its exit
# code) in JOB_DIR. The job library (wine-job.sh, which also says what a job
# may rely on) is copied into JOB_DIR first; job.sh begins with
# ". ./wine-job.sh". The job is stopped after WINE_JOB_TIMEOUT seconds
# (default 1800).
set -euo pipefail
. "$(dirname "$0")/../common.sh"
job=$(cd "$1" && pwd)
limit=${WINE_JOB_TIMEOUT:-1800}
backend=$("$scripts_dir/wine/backend.sh")
rm -f "$job/job.rc" "$job/job.log"
cp "$scripts_dir/wine/wine-job.sh" "$job/wine-job.sh"
case "$backend" in
  box)
    image=$("$scripts_dir/wine/box-image.sh")
    echo "wine: running the job in the emulated machine (box backend)" >&2
    BOX_TIMEOUT=$limit "$scripts_dir/wine/box-run.sh" "$image" "$job"
    ;;
  native)
    prefixes=$("$scripts_dir/wine/native-prefixes.sh")
    root=$("$scripts_dir/wine/root.sh")
    echo "wine: running the job natively in the Wine root (native backend)" >&2
    fresh=$(mktemp -d "$cache_root/wine-job.XXXXXX")
    trap 'rm -rf "$fresh"' EXIT
    cp -a "$prefixes/win64" "$prefixes/win32" "$fresh/"
    rc=0
    timeout "$limit" "$scripts_dir/wine/native-enter.sh" "$root" "$fresh" "$job" sh ./job.sh >"$job/job.log" 2>&1 || rc=$?
    echo "$rc" >"$job/job.rc"
    if [ "$rc" -eq 124 ]; then
      echo "wine: the job was still running after its time limit of $limit s and was stopped (WINE_JOB_TIMEOUT sets it)" >&2
      exit 1
    fi
    ;;
esac
