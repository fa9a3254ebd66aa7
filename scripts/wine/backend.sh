#!/usr/bin/env bash
# backend.sh: prints which Wine the end-to-end jobs run on, "native" or "box".
# Both run the one Wine root (root.sh):
#
#   native  entered natively (native-enter.sh). Chosen when this machine
#           executes 32-bit x86 code, which the launcher (a 32-bit program)
#           and Wine's 32-bit half need, and the root's Wine then starts a
#           32-bit program in the prefixes it makes (native-prefixes.sh).
#   box     booted as a small Debian machine under qemu's software emulation
#           (box-image.sh, box-run.sh), for machines whose kernel cannot run
#           32-bit programs at all, or where the native start failed (one
#           line says why).
#
# The first test is a tiny 32-bit Linux program (exit code 42), written into
# the cache folder and run. LAUNCHER_WINE=native or LAUNCHER_WINE=box forces a
# backend; forcing "native" where 32-bit code cannot run stops with a sentence
# saying so. For tests: LAUNCHER_WINE_PROBE names another probe program,
# LAUNCHER_WINE_NATIVE another command for the native start (exit 0 when it
# works), and --write-probe FILE writes the built-in probe.
set -euo pipefail
. "$(dirname "$0")/../common.sh"

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

# probe_folder: where the built-in probe is written and run: the cache (a
# temporary folder may be mounted noexec), or the temporary folder where the
# cache cannot be written.
probe_folder() {
  if mkdir -p "$cache_root" 2>/dev/null && [ -w "$cache_root" ]; then echo "$cache_root"; else echo "${TMPDIR:-/tmp}"; fi
}

# probe_runs: exit 0 when the probe runs. When it could not be run for a
# reason that is not the machine (its folder is mounted noexec), that folder
# is left in noexec_folder.
noexec_folder=""
probe_runs() {
  local probe=${LAUNCHER_WINE_PROBE:-} made="" rc=0
  if [ -z "$probe" ]; then
    made=$(mktemp "$(probe_folder)/i386-probe.XXXXXX")
    write_probe "$made"
    probe=$made
  fi
  "$probe" >/dev/null 2>&1 || rc=$?
  [ -z "$made" ] || rm -f "$made"
  [ "$rc" -eq 42 ] && return 0
  if [ "$rc" -eq 126 ] && findmnt -no OPTIONS --target "$(dirname "$probe")" 2>/dev/null | grep -qw noexec; then
    noexec_folder=$(dirname "$probe")
    echo "wine: the 32-bit test program could not be run: $noexec_folder is mounted noexec (this says nothing of the machine)" >&2
  fi
  return 1
}

# native_runs: the root's Wine starts a 32-bit program here (making the
# prefixes natively checks exactly that); its output goes to stderr.
native_runs() {
  if [ -n "${LAUNCHER_WINE_NATIVE:-}" ]; then "$LAUNCHER_WINE_NATIVE" >&2; else "$scripts_dir/wine/native-prefixes.sh" >/dev/null; fi
}

if [ "${1:-}" = --write-probe ]; then write_probe "$2"; exit 0; fi

case "${LAUNCHER_WINE:-}" in
  box)
    echo box ;;
  native)
    if ! probe_runs; then
      [ -z "$noexec_folder" ] || { echo "wine: LAUNCHER_WINE=native, but the test of this machine could not run (see above); set SETUP_LAUNCHER_CACHE to a folder that allows programs" >&2; exit 1; }
      cat >&2 <<'MSG'
wine: LAUNCHER_WINE=native, but this machine cannot run 32-bit x86 programs (a tiny
32-bit test program did not run), so neither the launcher nor Wine's 32-bit half
can run here. Unset LAUNCHER_WINE to choose automatically, or set LAUNCHER_WINE=box
to run Wine inside the emulated Debian machine (box backend).
MSG
      exit 1
    fi
    native_runs || { echo "wine: LAUNCHER_WINE=native, but the Wine root's Wine did not start a 32-bit program natively (see above)" >&2; exit 1; }
    echo native ;;
  "")
    if ! probe_runs; then echo box
    elif native_runs; then echo native
    else
      echo "wine: this machine runs 32-bit code, but the Wine root's Wine did not start a 32-bit program natively; using the emulated machine (box backend)" >&2
      echo box
    fi ;;
  *)
    echo "wine: LAUNCHER_WINE is \"$LAUNCHER_WINE\"; it takes \"native\" or \"box\" (or unset: choose by testing)" >&2
    exit 2 ;;
esac
