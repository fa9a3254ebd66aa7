#!/usr/bin/env bash
# record.sh: runs the differential corpus with the real launcher.exe under
# Wine (on the backend scripts/wine chooses) on the four machine rows of
# corpus.cpp and records the outcomes that the host test compares with the
# simulated machine:
#   tests/differential/outcomes-s1.tsv  the corpus (seed 1, 320 packages)
#   tests/differential/outcomes-s2.tsv  a held-out corpus (seed 2, 100 packages)
# Run it again (scripts/build.sh first) whenever the launcher or the corpus
# changes what a package does; it takes about half an hour on the emulated
# machine, a few minutes on the host's Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
tool=build/host/tests/differential
[ -x "$tool" ] || { echo "record: build the host preset first (scripts/build.sh)" >&2; exit 1; }
for seed_count in "1 320" "2 100"; do
  set -- $seed_count
  seed=$1 count=$2
  work=build/differential-s$seed
  rm -rf "$work"; mkdir -p "$work/packages"
  "$tool" write "$work/packages" "$seed" "$count"
  cp "$work/packages/list.txt" "$work/list.txt"
  cat >"$work/job.sh" <<'JOB'
export WINEDLLOVERRIDES='mscoree,mshtml='
for p in win64 win32; do WINEPREFIX=$WINE_PREFIXES/$p wineserver -p; done
# row prefix version with32
while read -r row prefix version with32; do
  export WINEPREFIX=$WINE_PREFIXES/$prefix
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' "$version" >"version-$row.reg"
  WINEDEBUG=-all wine regedit "version-$row.reg"
  temp=$WINEPREFIX/drive_c/users/$WINE_USER/Temp
  mkdir -p "run-$row"
  while read -r name; do
    ln -sf "../packages/$name.exe" "run-$row/$name.exe"
    ( cd "run-$row" &&
      WINEDEBUG=+relay timeout 120 wine "./$name.exe" $with32 >/dev/null 2>"$name.trace"; echo $? >"$name.rc" )
    rm -f "$temp"/*
  done <list.txt
  wineserver -w
  echo "row $row done"
done <<'ROWS'
win10-64 win64 win10
win10-64-with32 win64 win10 /32
win10-32 win32 win10
win7-64 win64 win7
ROWS
for p in win64 win32; do WINEPREFIX=$WINE_PREFIXES/$p wineserver -k; done
JOB
  WINE_JOB_TIMEOUT=5400 scripts/wine/run.sh "$work"
  cat "$work/job.log"
  "$tool" collect "$work" >"tests/differential/outcomes-s$seed.tsv"
  echo "record: tests/differential/outcomes-s$seed.tsv: $(wc -l <"tests/differential/outcomes-s$seed.tsv") outcomes"
done
