#!/usr/bin/env bash
# The main job, from a fresh machine: set up, build the launcher and the
# package tool, build a sample package around the project's sample setup
# program, run it under Wine with a few arguments, and show what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh setup-package
echo "launcher image: build/windows/launcher.exe, $(stat -c %s build/windows/launcher.exe) bytes (budget 65536)"

work=build/demo
rm -rf "$work"; mkdir -p "$work"
head -c 20000 /dev/urandom >"$work/setup-data.bin"
build/host/setup-package build \
  --launcher build/windows/launcher.exe \
  --program32 build/windows/sample_setup32.exe \
  --program64 build/windows/sample_setup64.exe \
  --setup-data "$work/setup-data.bin" \
  --architecture-message "This installer does not suit this computer." \
  --version-message "This installer does not run on %USER%." \
  --output "$work/ExampleSetup.exe"

cat >"$work/job.sh" <<'JOB'
export WINEDLLOVERRIDES='mscoree,mshtml=' WINEPREFIX=/opt/prefixes/win64 HOME=/root
unset DISPLAY
cd /host
echo "+ wine ExampleSetup.exe /silent \"C:\\Program Files\\Example\" /lang=en"
WINEDEBUG=+relay wine ./ExampleSetup.exe /silent 'C:\Program Files\Example' /lang=en >stdout.txt 2>stderr.txt
echo "launcher exit code: $?"
boxes=$(grep -a 'Call user32.MessageBoxA' stderr.txt | sed 's/^[0-9a-f]*:/message box: /')
echo "${boxes:-message boxes: none}"
echo "temporary folder after the run: $(ls "$WINEPREFIX/drive_c/users/root/Temp" | tr '\n' ' ')(empty means the copy was removed)"
JOB
echo "Booting the Wine machine (software emulation, about a minute)..."
image=$(scripts/winebox/build.sh)
scripts/winebox/run.sh "$image" "$work"
cat "$work/job.log"
echo "What the setup program received (ExampleSetup.exe.received.txt):"
sed 's/^/  /' "$work/ExampleSetup.exe.received.txt"
