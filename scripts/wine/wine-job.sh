# wine-job.sh: the library of every Wine job. scripts/wine/run.sh copies it
# into the job's folder; job.sh (run by sh, on either backend) begins with
# ". ./wine-job.sh". What a job may rely on, the same on both backends:
#   JOB            its folder, also the current directory at the start
#   JOB_WINDOWS    that folder as Windows programs see it
#   WINE_PREFIXES  a folder holding the prefixes win64 (64-bit Windows) and
#                  win32 (32-bit Windows), fresh for this job: what the job
#                  changes in them is not kept
#   WINE_USER      the user folder's name under drive_c/users
#   no DISPLAY     so message boxes return at once
JOB=/host
JOB_WINDOWS='Z:\host'
WINE_PREFIXES=/opt/prefixes
WINE_USER=root
export JOB JOB_WINDOWS WINE_PREFIXES WINE_USER
unset DISPLAY WAYLAND_DISPLAY
# Wine never asks for its Mono or Gecko.
export WINEDLLOVERRIDES='mscoree,mshtml='

# use_prefix win64|win32: the prefix the following wine commands run in.
use_prefix() {
  WINEPREFIX=$WINE_PREFIXES/$1
  export WINEPREFIX
}

# temp_folder: the user's temporary folder of the prefix in use, as this
# machine sees it.
temp_folder() { echo "$WINEPREFIX/drive_c/users/$WINE_USER/Temp"; }

# windows_version VERSION [EXE...]: the Windows version Wine reports (win7,
# win10, ...) in the prefix in use, to each EXE (a file name) or, with none,
# to every program.
windows_version() {
  wine_job_version=$1
  shift
  {
    printf 'REGEDIT4\n\n'
    if [ $# -eq 0 ]; then
      printf '[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="%s"\n' "$wine_job_version"
    fi
    for wine_job_exe in "$@"; do
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s]\n"Version"="%s"\n\n' "$wine_job_exe" "$wine_job_version"
    done
  } >"$JOB/wine-job-version.reg"
  (cd "$JOB" && WINEDEBUG=-all wine regedit wine-job-version.reg)
  rm -f "$JOB/wine-job-version.reg"
}

# start_servers: one wine server per prefix, kept running between the job's
# programs (each would otherwise start and end its own); stop_servers ends
# them and whatever still runs in the prefixes.
start_servers() {
  for p in win64 win32; do WINEPREFIX=$WINE_PREFIXES/$p wineserver -p; done
}
stop_servers() {
  for p in win64 win32; do WINEPREFIX=$WINE_PREFIXES/$p wineserver -k; done
}
