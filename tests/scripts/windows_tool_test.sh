#!/usr/bin/env bash
# windows_tool_test.sh SOURCE LINUX_BUILD WINDOWS_BUILD WINDOWS_TOOL_BUILD: the
# Windows tool (setup-package.exe under Wine, 64-bit prefix) against the
# Linux tool. Both run every command of one table of option sets, from the
# same relative folders with the same arguments; their packages, JSON
# documents, exit statuses and extracted files must be the same. Then what
# only Windows shows: the zip unpacked into a folder with a non-ASCII name,
# a build from cmd.exe there, a build in a folder past 260 characters whose
# package runs on the real launcher, and signing through cmd.exe.
set -uo pipefail
source=$1 linux=$2/bin/setup-package windows=$3 wtool=$4
work=$(mktemp -d)
[ -n "${KEEP_WORK:-}" ] && echo "work folder: $work" || trap 'rm -rf "$work"' EXIT
job=$work/job
failed=0 passed=0
check() {  # check NAME CONDITION: counted; fails (for a "|| show why" after it) when the condition does
  if eval "$2"; then passed=$((passed + 1)); else echo "FAIL $1"; failed=$((failed + 1)); return 1; fi
}

mkdir -p "$job/in" "$job/tool" "$job/damaged"
cp "$wtool/setup-package.exe" "$wtool/launcher.exe" "$job/tool/"
cp "$windows/sample_setup32.exe" "$job/in/setup32.exe"
cp "$windows/sample_setup64.exe" "$job/in/setup64.exe"
cp "$windows/cert_appender.exe" "$windows/file_holder.exe" "$job/in/"
cp "$source/tools/package_tool/examples/example.ico" "$job/in/"
head -c 5000 /dev/urandom >"$job/in/data.bin"
printf 'not an icon\n' >"$job/in/bad.ico"
printf 'Für %%USER%% gibt es keine Fassung – 日本語 🙂\n' >"$job/in/version-message.txt"
# A package file as Windows editors save it: a byte order mark, CRLF.
printf '\357\273\277program32 = "setup32.exe"\r\nsetup-data = "data.bin"\r\nproduct = "Überall"\r\nversions = ["Windows 10", "later"]\r\n' \
  >"$job/in/crlf.toml"

# The table: a name, then the arguments, one per field (tab-separated).
# Paths are relative to the folder each case runs in (linux/NAME or
# windows/NAME); the package is pkg.exe there.
tab=$'\t'
cases_file=$work/cases
cat >"$cases_file" <<EOF
one${tab}--program32${tab}../../in/setup32.exe
two${tab}--program32${tab}../../in/setup32.exe${tab}--program64${tab}../../in/setup64.exe
data${tab}--program32${tab}../../in/setup32.exe${tab}--setup-data${tab}../../in/data.bin
whole${tab}--program64${tab}../../in/setup64.exe${tab}--setup-data${tab}../../in/data.bin${tab}--crc-reach${tab}whole
messages${tab}--program32${tab}../../in/setup32.exe${tab}--versions${tab}Windows 7,Windows 10${tab}--version-message-file${tab}../../in/version-message.txt${tab}--architecture-message${tab}Nicht für diesen Rechner – このコンピューター
detached${tab}--program64${tab}../../in/setup64.exe${tab}--detached
lzma${tab}--program32${tab}../../in/setup32.exe${tab}--lzma-preset${tab}9${tab}--dictionary${tab}65536${tab}--lc${tab}1${tab}--lp${tab}2${tab}--pb${tab}0
config${tab}--config${tab}../../in/crlf.toml
branding${tab}--program32${tab}../../in/setup32.exe${tab}--company${tab}Contoso Ltd${tab}--product${tab}Contoso Привет${tab}--product-version${tab}2.3.4.5${tab}--icon${tab}../../in/example.ico
EOF
# Refusals: the same exit status from both.
refusals_file=$work/refusals
cat >"$refusals_file" <<EOF
bad-icon${tab}--program32${tab}../../in/setup32.exe${tab}--icon${tab}../../in/bad.ico
bad-version${tab}--program32${tab}../../in/setup32.exe${tab}--product-version${tab}1.2.3.4.5
missing-program${tab}--program32${tab}../../in/missing.exe
wrong-machine${tab}--program32${tab}../../in/setup64.exe
crc-past-end${tab}--program32${tab}../../in/setup32.exe${tab}--crc-reach${tab}99999999
unknown-version${tab}--program32${tab}../../in/setup32.exe${tab}--versions${tab}Windows 12
EOF

# The Linux side, run now.
run_linux() {  # run_linux FOLDER NAME ARGS...: build, and for a package inspect, verify, extract
  local folder=$1 name=$2
  shift 2
  mkdir -p "$folder/$name"
  ( cd "$folder/$name" || exit 1
    "$linux" build --json --launcher "$windows/launcher.exe" "$@" --output pkg.exe >build.json 2>/dev/null
    echo $? >build.rc
    [ -f pkg.exe ] || exit 0
    "$linux" inspect --json pkg.exe >inspect.json 2>/dev/null; echo $? >inspect.rc
    "$linux" verify --json pkg.exe >verify.json 2>/dev/null; echo $? >verify.rc
    "$linux" extract -q pkg.exe --output-dir out 2>/dev/null; echo $? >extract.rc )
}
while IFS=$tab read -r -a row; do run_linux "$job/linux" "${row[@]}"; done <"$cases_file"
while IFS=$tab read -r -a row; do run_linux "$job/linux" "${row[@]}"; done <"$refusals_file"
# Damaged packages, made from the two-program package.
good=$job/linux/two/pkg.exe
python3 - "$good" "$job/damaged" <<'PY'
import sys
good, out = sys.argv[1], sys.argv[2]
b = bytearray(open(good, "rb").read())
flipped = bytearray(b); flipped[len(b) - 100] ^= 0x40; open(out + "/flipped.exe", "wb").write(flipped)
open(out + "/cut.exe", "wb").write(b[:len(b) - 1000])
launcher = bytearray(b); launcher[0x1000] ^= 1; open(out + "/launcher.exe", "wb").write(launcher)
PY
for name in flipped cut launcher; do
  mkdir -p "$job/linux/damaged-$name"
  ( cd "$job/linux/damaged-$name" &&
    { "$linux" inspect --json "../../damaged/$name.exe" >inspect.json 2>/dev/null; echo $? >inspect.rc; } &&
    { "$linux" verify --json "../../damaged/$name.exe" >verify.json 2>/dev/null; echo $? >verify.rc; } )
done
# A sign command that signs nothing.
mkdir -p "$job/linux/unsigned"
(cd "$job/linux/unsigned" && "$linux" build -q --launcher "$windows/launcher.exe" --program32 ../../in/setup32.exe \
   --output unsigned.exe --sign-command 'cp {in} {out}' 2>/dev/null; echo $? >rc)
# Paths with the other slash (on Windows): the same package.
mkdir -p "$job/linux/slashes/sub" "$job/windows/slashes/sub"
(cd "$job/linux/slashes" && "$linux" build -q --launcher "$windows/launcher.exe" --program32 ../../in/setup32.exe \
   --output sub/pkg.exe)
# The worked example, as its package file has it, with two options more.
mkdir -p "$job/linux/example"
cp "$source"/tools/package_tool/examples/{MySetup.toml,setup-data.txt} "$job/linux/example/"
cp "$windows/sample_setup32.exe" "$windows/sample_setup64.exe" "$job/linux/example/"
cp "$source/tools/package_tool/examples/example.ico" "$job/linux/example/contoso.ico"
(cd "$job/linux/example" && "$linux" build -q --launcher "$windows/launcher.exe" --config MySetup.toml \
   --company "Contoso Ltd" --icon contoso.ico)

# The Windows side: one Wine job. The case tables go in as files; the job
# reads each row into its arguments (sh has no arrays).
cp "$cases_file" "$job/cases"
cp "$refusals_file" "$job/refusals"
zip=$(ls "$wtool"/setup-package-*-windows-x64.zip 2>/dev/null | head -n 1)
check "the Windows tool's zip is made" '[ -n "$zip" ]'
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$job/zip"
cat >"$job/job.sh" <<'JOB'
. ./wine-job.sh
use_prefix win64
export LANG=C.UTF-8 WINEDEBUG=-all
start_servers
tool=$JOB/tool/setup-package.exe
tab=$(printf '\t')
run_windows() {  # run_windows FOLDER ROW: as run_linux, without --launcher
  folder=$1
  name=${2%%"$tab"*}
  rest=${2#"$name"}
  set --
  while [ -n "$rest" ]; do
    rest=${rest#"$tab"}
    word=${rest%%"$tab"*}
    rest=${rest#"$word"}
    set -- "$@" "$word"
  done
  mkdir -p "$folder/$name"
  (cd "$folder/$name" || exit 1
   wine "$tool" build --json "$@" --output pkg.exe >build.json 2>build.err; echo $? >build.rc
   [ -f pkg.exe ] || exit 0
   wine "$tool" inspect --json pkg.exe >inspect.json 2>/dev/null; echo $? >inspect.rc
   wine "$tool" verify --json pkg.exe >verify.json 2>/dev/null; echo $? >verify.rc
   wine "$tool" extract -q pkg.exe --output-dir out 2>/dev/null; echo $? >extract.rc)
}
while IFS= read -r row; do run_windows "$JOB/windows" "$row"; done <cases
while IFS= read -r row; do run_windows "$JOB/windows" "$row"; done <refusals
for name in flipped cut launcher; do
  mkdir -p "windows/damaged-$name"
  (cd "windows/damaged-$name" &&
   { wine "$tool" inspect --json "../../damaged/$name.exe" >inspect.json 2>/dev/null; echo $? >inspect.rc; } &&
   { wine "$tool" verify --json "../../damaged/$name.exe" >verify.json 2>/dev/null; echo $? >verify.rc; })
done

(cd windows/slashes && wine "$tool" build -q --program32 '..\..\in\setup32.exe' --output 'sub\pkg.exe' >/dev/null 2>&1)

# The zip, unpacked where an author in another language keeps it, and the
# worked example built from cmd.exe there.
home="$WINEPREFIX/drive_c/users/Пользователь/セットアップ ツール"
mkdir -p "$home" && cp -r "$JOB"/zip/setup-package-*-windows-x64/. "$home/" &&
  (cd "$home" && cp examples/* . && cp example.ico contoso.ico)
printf 'setup-package.exe build --config MySetup.toml --company "Contoso Ltd" --icon contoso.ico\r\n' >"$home/example.cmd"
(cd "$home" && wine cmd /d /c example.cmd >"$JOB/example.log" 2>&1; echo $? >"$JOB/example.rc")
rm -f "$home/example.cmd"
cp "$home/MySetup.exe" "$JOB/example.exe" 2>/dev/null
ls "$home" >"$JOB/example-folder.txt"

# A folder past 260 characters with a non-ASCII name: the package built there
# runs on the real launcher (from a short folder: the launcher's own path is
# an ANSI one, within 260 characters).
deep="$WINEPREFIX/drive_c/Установка 🙂" deep_windows='C:\Установка 🙂'
for i in 1 2 3 4 5 6 7 8; do
  deep="$deep/папка с очень длинным именем номер $i" deep_windows="$deep_windows\\папка с очень длинным именем номер $i"
done
mkdir -p "$deep" && cp "$JOB/in/setup32.exe" "$deep/"
# (Windows keeps no current folder that long: the paths are given whole.)
wine "$tool" build -q --program32 "$deep_windows\\setup32.exe" --output "$deep_windows\\long.exe" >"$JOB/long.log" 2>&1
echo $? >"$JOB/long.rc"
printf '%s' "$deep_windows" >"$JOB/long-folder.txt"
mkdir -p "$JOB/run" && cp "$deep/long.exe" "$JOB/run/long.exe" 2>/dev/null
(cd "$JOB/run" && wine ./long.exe /lang=en >/dev/null 2>&1)
# The same from an absolute path, with the other slash.
(wine "$tool" inspect -q "$(printf '%s' "$deep_windows" | tr '\\' '/')/long.exe" >/dev/null 2>&1; echo $? >"$JOB/long-inspect.rc")

# Signing through cmd.exe, in a folder whose name holds a space, &, %, ^ and
# a letter outside ASCII.
signing="$JOB/sign here & 100% ^ ü"
mkdir -p "$signing" && cp "$JOB/in/setup32.exe" "$JOB/in/cert_appender.exe" "$signing/"
(cd "$signing" && wine "$tool" build -q --program32 setup32.exe --output signed.exe \
   --sign-command 'cert_appender.exe {in} {out}' >"$JOB/sign.log" 2>&1; echo $? >"$JOB/sign.rc")
(cd "$signing" && wine "$tool" inspect --json signed.exe >"$JOB/sign-inspect.json" 2>/dev/null)
(cd "$signing" && wine "$tool" build -q --program32 setup32.exe --output unsigned.exe \
   --sign-command 'copy {in} {out} >NUL' >"$JOB/unsigned.log" 2>&1; echo $? >"$JOB/unsigned.rc")
ls -A "$signing" >"$JOB/sign-folder.txt"
# The programs signed too, before they are compressed (the output elsewhere,
# where nothing else must be left).
mkdir -p "$JOB/programs-signed"
(cd "$signing" && wine "$tool" build -q --program32 setup32.exe --output ../programs-signed/p.exe --sign-programs \
   --sign-command 'cert_appender.exe {in} {out}' >"$JOB/sign-programs.log" 2>&1; echo $? >"$JOB/sign-programs.rc")
(cd "$JOB/programs-signed" && wine "$tool" inspect --json p.exe >"$JOB/sign-programs.json" 2>/dev/null)
ls -A "$JOB/programs-signed" >"$JOB/sign-programs-folder.txt"
# Files another program holds open: an input, and an existing output (the
# package still running, say), which stays as it was.
mkdir -p "$JOB/held" && cp "$JOB/in/setup32.exe" "$JOB/in/file_holder.exe" "$JOB/held/" && cp "$JOB/in/setup64.exe" "$JOB/held/old.exe"
cd "$JOB/held"
hold() {  # hold FILE: file_holder holds it for a while; returns once it does
  wine file_holder.exe "$1" 8000 &
  i=0; while [ ! -e "$1.held" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}
hold setup32.exe
wine "$tool" build -q --program32 setup32.exe --output new.exe >"$JOB/held-input.log" 2>&1; echo $? >"$JOB/held-input.rc"
wait
hold old.exe
wine "$tool" build -q --program32 setup32.exe --output old.exe >"$JOB/held-output.log" 2>&1; echo $? >"$JOB/held-output.rc"
wait
rm -f ./*.held
ls -A >"$JOB/held-folder.txt"
cd "$JOB"
stop_servers
JOB
"$source/scripts/wine/run.sh" "$job" >&2 || { echo "FAIL the Wine job did not run"; exit 1; }
check "the Wine job ran" '[ "$(cat "$job/job.rc")" = 0 ]' || cat "$job/job.log"

# The same results.
same() {  # same CASE FILE: the file is the same from both tools
  cmp -s "$job/linux/$1/$2" "$job/windows/$1/$2"
}
while IFS=$tab read -r name _; do
  check "$name: build exits alike" 'same "$name" build.rc'
  check "$name: the same package" 'same "$name" pkg.exe'
  check "$name: the same build document" 'same "$name" build.json'
  for command in inspect verify extract; do
    check "$name: $command exits alike" 'same "$name" $command.rc'
  done
  check "$name: the same inspect document" 'same "$name" inspect.json'
  check "$name: the same verify document" 'same "$name" verify.json'
  check "$name: extract gives the same files" 'diff -r "$job/linux/$name/out" "$job/windows/$name/out" >/dev/null'
done <"$cases_file"
while IFS=$tab read -r name _; do
  check "$name: refused alike (exit $(cat "$job/linux/$name/build.rc"))" \
    'same "$name" build.rc && [ "$(cat "$job/linux/$name/build.rc")" != 0 ] && [ ! -e "$job/windows/$name/pkg.exe" ]'
done <"$refusals_file"
for name in flipped cut launcher; do
  for command in inspect verify; do
    check "damaged $name: $command exits alike" 'same "damaged-$name" $command.rc'
    check "damaged $name: the same $command document" 'same "damaged-$name" $command.json'
  done
done

# What only Windows shows.
check "backslashes make the package slashes make" 'cmp -s "$job/linux/slashes/sub/pkg.exe" "$job/windows/slashes/sub/pkg.exe"'
check "the worked example builds from cmd.exe in C:\\Users\\Пользователь\\セットアップ ツール" \
  '[ "$(cat "$job/example.rc")" = 0 ]' || cat "$job/example.log"
check "and writes the Linux tool's bytes" 'cmp -s "$job/example.exe" "$job/linux/example/MySetup.exe"'
check "the zip holds the tool, the launcher, the guide and the example" \
  'for f in setup-package.exe launcher.exe README.txt LICENSE.txt NOTICES.txt setup-package.schema.json MySetup.toml; do grep -qx "$f" "$job/example-folder.txt" || exit 1; done'
check "the zip's launcher is the windows build's" 'cmp -s "$job"/zip/*/launcher.exe "$windows/launcher.exe"'
length=$(python3 -c 'import sys; print(len(open(sys.argv[1], encoding="utf-8").read().encode("utf-16-le")) // 2)' "$job/long-folder.txt")
check "a build in a folder of $length characters" '[ "$(cat "$job/long.rc")" = 0 ] && [ "$length" -gt 260 ]' ||
  cat "$job/long.log"
check "its package runs on the real launcher" 'grep -q "^argv\[2\]: /lang=en" "$job/run/long.exe.received.txt" 2>/dev/null'
check "inspect takes the long path with forward slashes" '[ "$(cat "$job/long-inspect.rc")" = 0 ]'
check "a sign command through cmd.exe in a folder with a space, &, %, ^ and ü" '[ "$(cat "$job/sign.rc")" = 0 ]' ||
  cat "$job/sign.log"
check "signs the package" 'grep -q "\"signature\": true" "$job/sign-inspect.json"'
check "a command that signs nothing is exit 3, as on Linux" \
  '[ "$(cat "$job/unsigned.rc")" = 3 ] && cmp -s "$job/unsigned.rc" "$job/linux/unsigned/rc"' || cat "$job/unsigned.log"
check "and leaves nothing behind" '[ "$(sort "$job/sign-folder.txt" | tr "\n" " ")" = "cert_appender.exe setup32.exe signed.exe " ]' ||
  cat "$job/sign-folder.txt"
check "--sign-programs signs the program inside, through cmd.exe" '[ "$(cat "$job/sign-programs.rc")" = 0 ] &&
  python3 -c "import json,sys; s = json.load(open(sys.argv[1]))[\"signatures\"]; sys.exit(not (s[\"package\"][\"certificateTable\"] and s[\"program32\"][\"certificateTable\"]))" "$job/sign-programs.json" &&
  [ "$(cat "$job/sign-programs-folder.txt")" = p.exe ]' || cat "$job/sign-programs.log" "$job/sign-programs-folder.txt"
check "an input another program holds open: exit 3, naming it" \
  '[ "$(cat "$job/held-input.rc")" = 3 ] && grep -q "setup32.exe: the file is in use by another program" "$job/held-input.log"' ||
  cat "$job/held-input.log"
check "an output another program holds open: exit 3, naming it" \
  '[ "$(cat "$job/held-output.rc")" = 3 ] && grep -q "old.exe: the file is in use by another program" "$job/held-output.log"' ||
  cat "$job/held-output.log"
check "and it stays as it was, with nothing left beside it" \
  'cmp -s "$job/held/old.exe" "$job/in/setup64.exe" && [ "$(sort "$job/held-folder.txt" | tr "\n" " ")" = "file_holder.exe old.exe setup32.exe " ]' ||
  cat "$job/held-folder.txt"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
