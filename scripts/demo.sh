#!/usr/bin/env bash
# The main job, from a fresh machine: set up, build the launcher and the
# package tool, build a sample package around the project's sample setup
# program, run it under Wine with a few arguments, and show what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh setup-package
. scripts/common.sh
echo "launcher image: build/windows/launcher.exe, $(stat -c %s build/windows/launcher.exe) bytes (budget $(image_budget))"

work=build/demo
rm -rf "$work"; mkdir -p "$work"
head -c 20000 /dev/urandom >"$work/setup-data.bin"
build/linux/bin/setup-package build \
  --launcher build/windows/launcher.exe \
  --program32 build/windows/sample_setup32.exe \
  --program64 build/windows/sample_setup64.exe \
  --setup-data "$work/setup-data.bin" \
  --architecture-message "This installer does not suit this computer." \
  --version-message "This installer does not run on %USER%." \
  --output "$work/ExampleSetup.exe"

cat >"$work/job.sh" <<'JOB'
. ./wine-job.sh
use_prefix win64
temp=$(temp_folder)
echo "+ wine ExampleSetup.exe /silent \"C:\\Program Files\\Example\" /lang=en"
start=$(date +%s.%N)
WINEDEBUG=+relay wine ./ExampleSetup.exe /silent 'C:\Program Files\Example' /lang=en >stdout.txt 2>stderr.txt
echo "launcher exit code: $? (after $(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }') s)"
boxes=$(grep -a 'Call user32.MessageBoxA' stderr.txt | sed 's/^[0-9a-f]*:/message box: /')
echo "${boxes:-message boxes: none}"
echo "temporary folder after the run: $(ls "$temp" | tr '\n' ' ')(empty means the copy was removed)"
JOB
scripts/wine/run.sh "$work"
cat "$work/job.log"
[ "$(cat "$work/job.rc")" = 0 ] || { echo "demo: the Wine job failed" >&2; exit 1; }
echo "What the setup program received (ExampleSetup.exe.received.txt):"
sed 's/^/  /' "$work/ExampleSetup.exe.received.txt"
