#!/usr/bin/env bash
# wine_native_entry_test.sh PROGRAM64: the native backend's entry into the
# Wine root (scripts/wine/native-enter.sh), on every machine, including one that cannot
# run 32-bit code: a fresh 64-bit prefix made natively, PROGRAM64 (the 64-bit
# sample setup program) run under wine64 with arguments, and after the entry
# ends no process of the job left (its wineserver, kept alive on purpose,
# included) and nothing mounted.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
program=$1
root=$("$top/scripts/wine/root.sh") || { echo "FAIL: no Wine root (run scripts/setup.sh)"; exit 1; }
work=$(mktemp -d) prefixes=$(mktemp -d)
trap 'rm -rf "$work" "$prefixes"' EXIT
tag=native-entry-$$-$RANDOM
cp "$program" "$work/setup64.exe"
cp "$top/scripts/wine/wine-job.sh" "$work/"
cat >"$work/job.sh" <<JOB
. ./wine-job.sh
use_prefix win64
export WINEARCH=win64 WINEDEBUG=-all MARK=$tag
/usr/lib/wine/wine64 wineboot -i >wineboot.log 2>&1
wineserver -p
bash -c 'exec -a $tag sleep 1000' &
/usr/lib/wine/wine64 ./setup64.exe 'Z:\\host\\package.bin' "two words" /s
echo "program exit \$?"
JOB
"$top/scripts/wine/native-enter.sh" "$root" "$prefixes" "$work" sh ./job.sh >"$work/job.log" 2>&1
rc=$?

failed=0 passed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else echo "FAIL $1"; failed=$((failed + 1)); fi
}
received="$work/package.bin.received.txt"
check "entry exit code $rc" '[ "$rc" = 0 ]'
check "the program ran and exited 0" 'grep -qx "program exit 0" "$work/job.log"'
check "a 64-bit program" 'grep -qx "bits: 64" "$received"'
check "its arguments" 'grep -qx "argv\[2\]: two words" "$received" && grep -qx "argv\[3\]: /s" "$received"'
check "the job folder as Windows sees it" 'grep -qix "current folder: Z:\\\\host" "$received"'
# The namespace's processes end with it; on a busy machine the kernel may
# take a moment to tear them down after the entry has returned.
for i in $(seq 50); do
  left=$(grep -lsa "MARK=$tag" /proc/[0-9]*/environ)
  [ -z "$left" ] && break
  sleep 0.2
done
check "no process of the job left (${left:-none})" '[ -z "$left" ]'
check "nothing left mounted" '! grep -qF -e "$prefixes" -e "$work" /proc/self/mountinfo'
[ "$failed" -eq 0 ] || { echo "--- job.log"; cat "$work/job.log"; tail -5 "$work/wineboot.log" 2>/dev/null; }

probe=$(mktemp "$work/probe.XXXXXX")
"$top/scripts/wine/backend.sh" --write-probe "$probe"
probe_rc=0; "$probe" 2>/dev/null || probe_rc=$?
[ "$probe_rc" = 42 ] ||
  echo "note: this machine cannot run 32-bit code, so this test reached the native entry but not Wine's 32-bit loader"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
