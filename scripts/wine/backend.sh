#!/usr/bin/env bash
# backend.sh: prints which Wine the end-to-end jobs run on, "host" or "box".
#
#   host  Debian's own Wine on this machine. Chosen when this machine really
#         executes 32-bit x86 code, which the launcher (a 32-bit program) and
#         Wine's 32-bit half need.
#   box   a small Debian machine with Wine, booted under qemu's software
#         emulation (scripts/winebox), for machines whose kernel cannot run
#         32-bit programs at all.
#
# The choice is made by testing: a tiny 32-bit Linux program (exit code 42) is
# written and run. LAUNCHER_WINE=host or LAUNCHER_WINE=box forces a backend;
# forcing "host" where 32-bit code cannot run stops with a sentence saying so.
# LAUNCHER_WINE_PROBE names another probe program, and --write-probe FILE
# writes the built-in one (both for tests).
set -euo pipefail

# write_probe FILE: a 96-byte ELF32 i386 executable: one program header, then
# mov eax,1; mov ebx,42; int 0x80 (exit with code 42).
write_probe() {
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08' \
    '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00' \
    '\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$1"
  chmod 755 "$1"
}

probe_runs() {
  local probe=${LAUNCHER_WINE_PROBE:-}
  local made=""
  if [ -z "$probe" ]; then
    made=$(mktemp "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
    write_probe "$made"
    probe=$made
  fi
  local rc=0
  "$probe" >/dev/null 2>&1 || rc=$?
  [ -z "$made" ] || rm -f "$made"
  [ "$rc" -eq 42 ]
}

if [ "${1:-}" = --write-probe ]; then write_probe "$2"; exit 0; fi

case "${LAUNCHER_WINE:-}" in
  box)
    echo box ;;
  host)
    if ! probe_runs; then
      cat >&2 <<'MSG'
wine: LAUNCHER_WINE=host, but this machine cannot run 32-bit x86 programs (a tiny
32-bit test program did not run), so neither the launcher nor Wine's 32-bit half
can run here. Unset LAUNCHER_WINE to choose automatically, or set LAUNCHER_WINE=box
to run Wine inside the emulated Debian machine (scripts/winebox).
MSG
      exit 1
    fi
    echo host ;;
  "")
    if probe_runs; then echo host; else echo box; fi ;;
  *)
    echo "wine: LAUNCHER_WINE is \"$LAUNCHER_WINE\"; it takes \"host\" or \"box\" (or unset: choose by testing)" >&2
    exit 2 ;;
esac
