#!/bin/sh
# prepare-prefixes.sh OUT: makes the two Wine prefixes the jobs use, OUT/win64
# (64-bit Windows) and OUT/win32 (32-bit Windows, WINEARCH=win32), with crash
# dialogs off and the relay trace limited to user32.MessageBoxA.
#
# Runs natively in the Wine root (native backend) and inside the emulated machine (box
# backend) alike. Each prefix is made in a scratch folder, checked by running
# a 32-bit and (on win64) a 64-bit program in it, tried a second time from
# scratch when the check fails, and only then moved to OUT. Exit 0 only when
# both prefixes passed their check.
set -u
out=${1:?usage: prepare-prefixes.sh OUT}
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$out" || exit 1
scratch=$(mktemp -d "${PREFIX_SCRATCH:-${TMPDIR:-/tmp}}/prefixes.XXXXXX") || exit 1
cat >"$scratch/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="user32.MessageBoxA"
REG

# check ARCH PREFIX: the prefix runs a 32-bit program (the launcher is one)
# and, in a 64-bit prefix, a 64-bit one; its settings are in place.
check() {
  ok=0
  if [ "$1" = win64 ]; then
    sys32='C:\windows\syswow64\cmd.exe'
    [ "$(WINEPREFIX=$2 wine 'C:\windows\system32\cmd.exe' /c echo ready64 2>/dev/null | tr -d '\r')" = ready64 ] ||
      { echo "prepare: $1: a 64-bit program did not run"; ok=1; }
  else
    sys32='C:\windows\system32\cmd.exe'
  fi
  [ "$(WINEPREFIX=$2 wine "$sys32" /c echo ready32 2>/dev/null | tr -d '\r')" = ready32 ] ||
    { echo "prepare: $1: a 32-bit program did not run"; ok=1; }
  grep -q 'RelayInclude' "$2/user.reg" 2>/dev/null ||
    { echo "prepare: $1: the relay setting is missing from user.reg"; ok=1; }
  WINEPREFIX=$2 wineserver -k 2>/dev/null
  WINEPREFIX=$2 wineserver -w 2>/dev/null
  return $ok
}

# make ARCH PREFIX: one attempt, its output kept for the report.
make_prefix() {
  rm -rf "$2"
  WINEPREFIX=$2 WINEARCH=$1 wineboot -i >"$2.log" 2>&1
  rc=$?
  WINEPREFIX=$2 wineserver -w
  if [ $rc -ne 0 ]; then
    echo "prepare: $1: wineboot -i exited $rc"; tail -n 15 "$2.log"; return 1
  fi
  WINEPREFIX=$2 wine regedit "$scratch/settings.reg" >>"$2.log" 2>&1
  WINEPREFIX=$2 wineserver -w
  check "$1" "$2" || { tail -n 15 "$2.log"; return 1; }
}

status=0
for arch in win64 win32; do
  start=$(date +%s)
  prefix=$scratch/$arch
  if make_prefix "$arch" "$prefix" || { echo "prepare: $arch: trying once more from scratch"; make_prefix "$arch" "$prefix"; }; then
    rm -rf "${out:?}/$arch"
    cp -a "$prefix" "$out/$arch" && rm -rf "$prefix" || { echo "prepare: $arch: could not copy to $out"; status=1; }
    echo "prefix $arch ready in $(( $(date +%s) - start ))s"
  else
    echo "prepare: $arch: failed twice; see the lines above"
    status=1
  fi
done
rm -rf "$scratch"
sync
exit $status
