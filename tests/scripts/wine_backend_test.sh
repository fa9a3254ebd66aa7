#!/usr/bin/env bash
# The choice of Wine backend (scripts/wine/backend.sh): forced, automatic,
# forced "native" on a machine whose 32-bit probe does not run, and a machine
# that runs 32-bit code but where the Wine root's Wine does not start natively.
set -uo pipefail
backend="$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine/backend.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\nexit 42\n' >"$work/runs"; chmod 755 "$work/runs"
printf '#!/bin/sh\nexit 0\n' >"$work/wrong-code"; chmod 755 "$work/wrong-code"
printf '\x7fELF not a program' >"$work/not-executable"
printf '#!/bin/sh\necho native start failed\nexit 1\n' >"$work/native-fails"; chmod 755 "$work/native-fails"

failed=0 passed=0
# case NAME LAUNCHER_WINE PROBE EXPECTED_EXIT EXPECTED_STDOUT [STDERR_SUBSTRING]
# (the native start succeeds unless NATIVE names another command)
case_() {
  local out err rc=0
  out=$(LAUNCHER_WINE=$2 LAUNCHER_WINE_PROBE=$3 LAUNCHER_WINE_NATIVE=${NATIVE:-true} "$backend" 2>"$work/err") || rc=$?
  err=$(cat "$work/err")
  if [ "$rc" != "$4" ] || [ "$out" != "$5" ] || { [ -n "${6:-}" ] && [[ "$err" != *"$6"* ]]; }; then
    echo "FAIL $1: exit $rc, stdout '$out', stderr '$err'"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
}
case_ auto-runs             ""     "$work/runs"           0 native
case_ auto-cannot-run       ""     "$work/not-executable" 0 box
case_ auto-wrong-code       ""     "$work/wrong-code"     0 box
case_ auto-missing-probe    ""     "$work/missing"        0 box
case_ forced-box            box    "$work/runs"           0 box
case_ forced-native         native "$work/runs"           0 native
case_ forced-native-refused native "$work/not-executable" 1 "" "cannot run 32-bit x86 programs"
case_ refusal-names-box     native "$work/missing"        1 "" "LAUNCHER_WINE=box"
case_ unknown-value         qemu   "$work/runs"           2 "" "takes \"native\" or \"box\""
NATIVE=$work/native-fails
case_ auto-native-fails     ""     "$work/runs"           0 box "did not start a 32-bit program natively"
case_ forced-native-fails   native "$work/runs"           1 "" "did not start a 32-bit program natively"
case_ forced-box-no-check   box    "$work/runs"           0 box
NATIVE=

# The built-in probe is a well-formed i386 program, and the automatic choice
# is the one that running it gives on this machine.
"$backend" --write-probe "$work/probe"
header=$(readelf -h -l "$work/probe" 2>&1)
probe_rc=0; "$work/probe" 2>/dev/null || probe_rc=$?
[ "$probe_rc" = 42 ] && expected=native || expected=box
for want in "Class: *ELF32" "Machine: *Intel 80386" "Type: *EXEC" "Entry point address: *0x8048054" "LOAD .* R E"; do
  if grep -Eq "$want" <<<"$header"; then passed=$((passed + 1)); else
    echo "FAIL builtin-probe: no '$want' in readelf's view"; failed=$((failed + 1)); fi
done
case_ auto-builtin "" "" 0 "$expected"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
