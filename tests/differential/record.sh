#!/usr/bin/env bash
# record.sh: runs the differential corpus with the real launcher.exe under
# Wine (on the backend scripts/wine chooses) on the machine rows of
# tests/differential/rows.tsv and records the outcomes that the host test compares with the
# simulated machine:
#   tests/differential/outcomes-s1.tsv  the corpus (seed 1, 320 packages)
#   tests/differential/outcomes-s2.tsv  a held-out corpus (seed 2, 100 packages)
#   tests/differential/outcomes-s4.tsv  a fresh corpus (seed 4, 200 packages),
#                                       recorded after verify was made to agree
# Run it again (scripts/build.sh first) whenever the launcher or the corpus
# changes what a package does. On the native backend it takes a few minutes; on
# the emulated machine each run costs seconds (Wine starts the launcher and
# the setup program under software emulation), so the full corpus takes
# hours there: RECORD_CORPUS="1:60 2:20" records smaller ones (SEED:COUNT).
set -euo pipefail
cd "$(dirname "$0")/../.."
tool=build/linux/tests/differential
[ -x "$tool" ] || { echo "record: build the linux preset first (scripts/build.sh)" >&2; exit 1; }
for seed_count in ${RECORD_CORPUS:-1:320 2:100 4:200}; do
  seed=${seed_count%%:*} count=${seed_count#*:}
  work=build/differential-s$seed
  rm -rf "$work"; mkdir -p "$work/packages"
  "$tool" write "$work/packages" "$seed" "$count"
  cp "$work/packages/list.txt" "$work/list.txt"
  grep -v '^#' tests/differential/rows.tsv >"$work/rows.tsv"
  cat >"$work/job.sh" <<'JOB'
. ./wine-job.sh
start_servers
# name, prefix, Wine's version, the version it reports, the launcher's option, bits
while read -r row prefix version reported option bits; do
  with32=$option
  [ "$with32" = - ] && with32=""
  use_prefix "$prefix"
  windows_version "$version"
  temp=$(temp_folder)
  mkdir -p "run-$row"
  # Two runs at a time; each removes only its own copy (named after its
  # package, numbered when the name was taken).
  one() {
    ln -sf "../packages/$1.exe" "run-$row/$1.exe"
    ( cd "run-$row" &&
      WINEDEBUG=+relay timeout 120 wine "./$1.exe" $with32 </dev/null >/dev/null 2>"$1.trace"; echo $? >"$1.rc" )
    rm -f "$temp/$1"*
  }
  while read -r first; do
    one "$first" &
    if read -r second; then one "$second"; fi
    wait
  done <list.txt
  # Detached packages' setup programs may still run (the server stays up, so
  # no "wineserver -w"): wait for the copies in the temporary folder to end.
  for i in $(seq 60); do pgrep -f 'users.root.Temp' >/dev/null || break; sleep 1; done
  echo "row $row done"
done <rows.tsv
stop_servers
JOB
  WINE_JOB_TIMEOUT=5400 scripts/wine/run.sh "$work"
  cat "$work/job.log"
  "$tool" collect "$work" >"tests/differential/outcomes-s$seed.tsv"
  echo "record: tests/differential/outcomes-s$seed.tsv: $(wc -l <"tests/differential/outcomes-s$seed.tsv") outcomes"
done
