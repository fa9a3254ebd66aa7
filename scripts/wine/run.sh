#!/usr/bin/env bash
# run.sh JOB_DIR: runs JOB_DIR/job.sh under Wine on the backend that
# backend.sh chooses, and leaves job.log (its output) and job.rc (its exit
# code) in JOB_DIR. A job runs the same on either backend; it may rely on:
#   JOB            its folder, as the current directory
#   JOB_WINDOWS    that folder as Windows programs see it (Z:\...)
#   WINE_PREFIXES  a folder holding the prefixes win64 and win32, fresh for
#                  this job: what the job changes in them is not kept
#   WINE_USER      the user folder's name under drive_c/users
#   no DISPLAY     so message boxes return at once
# The job is stopped after WINE_JOB_TIMEOUT seconds (default 1800).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
job=$(cd "$1" && pwd)
limit=${WINE_JOB_TIMEOUT:-1800}
backend=$("$here/backend.sh")
rm -f "$job/job.rc" "$job/job.log"
case "$backend" in
  box)
    image=$("$here/../winebox/build.sh")
    echo "wine: running the job in the emulated machine (box backend)" >&2
    WINEBOX_TIMEOUT=$limit "$here/../winebox/run.sh" "$image" "$job"
    ;;
  host)
    prefixes=$("$here/host-prefixes.sh")
    echo "wine: running the job on this machine's Wine (host backend)" >&2
    fresh=$(mktemp -d "${TMPDIR:-/tmp}/wine-job.XXXXXX")
    cleanup() {
      for p in win64 win32; do WINEPREFIX=$fresh/$p wineserver -k 2>/dev/null || true; done
      rm -rf "$fresh"
    }
    trap cleanup EXIT
    cp -a "$prefixes/win64" "$prefixes/win32" "$fresh/"
    rc=0
    ( cd "$job" &&
      exec env -u DISPLAY -u WAYLAND_DISPLAY JOB="$job" JOB_WINDOWS="Z:${job//\//\\}" \
        WINE_PREFIXES="$fresh" WINE_USER="$(id -un)" timeout "$limit" sh ./job.sh ) >"$job/job.log" 2>&1 || rc=$?
    echo "$rc" >"$job/job.rc"
    if [ "$rc" -eq 124 ]; then
      echo "wine: the job was still running after its time limit of $limit s and was stopped (WINE_JOB_TIMEOUT sets it)" >&2
      exit 1
    fi
    ;;
esac
