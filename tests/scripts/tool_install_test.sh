#!/usr/bin/env bash
# tool_install_test.sh HOST_BUILD WINDOWS_BUILD: the package tool installed as
# a tool: into a fresh prefix, used from another folder without --launcher
# (it takes the launcher installed beside it, and inspect knows it), its JSON
# checked against the installed schema, and made into a .deb whose files and
# dependencies are checked.
set -uo pipefail
build=$1 windows=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else echo "FAIL $1"; failed=$((failed + 1)); fi
}
cmake --install "$build" --prefix "$work/prefix" >/dev/null
tool=$work/prefix/bin/setup-package
mkdir "$work/elsewhere" && cd "$work/elsewhere" || exit 1
check "build without --launcher" '"$tool" build -q --program32 "$windows/sample_setup32.exe" --output pkg.exe'
check "inspect knows the shipped launcher" '"$tool" inspect pkg.exe | grep -q "launcher image: the one this tool ships"'
# The README's worked example, as written, with the installed example.
( cp -r "$work/prefix/share/setup-package/examples" my-setup && cd my-setup &&
  "$tool" build -q --config MySetup.toml && "$tool" inspect MySetup.exe >inspect.txt &&
  "$tool" verify -q MySetup.exe && "$tool" extract -q MySetup.exe --output-dir unpacked )
check "the worked example runs as written" 'grep -q "no problems found" my-setup/inspect.txt && cmp -s my-setup/unpacked/setup64.exe my-setup/sample_setup64.exe'
check "a branded package is still the shipped launcher" 'grep -q "launcher image: the one this tool ships" my-setup/inspect.txt && grep -q "CompanyName *\"Example Company\"" my-setup/inspect.txt'
python3 -c 'import sys; b = bytearray(open("pkg.exe", "rb").read()); b[0x1000] ^= 1; open("changed.exe", "wb").write(b)'
check "and a changed one, a problem" '{ "$tool" inspect changed.exe; echo "exit $?"; } >changed.txt; grep -q "launcher image: another one than this tool ships" changed.txt && grep -q "\[launcher-modified\]" changed.txt && grep -qx "exit 1" changed.txt'
# What --json prints follows the installed schema (Debian's python3 and its
# jsonschema module).
schema=$work/prefix/share/setup-package/setup-package.schema.json
conforms() {  # conforms COMMAND...: its --json output follows the schema
  "$@" >"$work/doc.json" 2>/dev/null
  /usr/bin/python3 -c 'import json, sys, jsonschema
jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))' "$schema" "$work/doc.json"
}
check "build --json follows the schema" 'conforms "$tool" build --json --program32 "$windows/sample_setup32.exe" --output pkg2.exe'
check "inspect --json follows the schema" 'conforms "$tool" inspect --json changed.exe'
check "verify --json follows the schema" 'conforms "$tool" verify --json pkg.exe'
check "an error document follows the schema" 'conforms "$tool" verify --json missing.exe'
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null 2>&1)
deb=$(ls "$work"/deb/setup-package_*.deb 2>/dev/null | head -n 1)
check "a .deb is made" '[ -n "$deb" ]'
files=$(dpkg-deb -c "$deb" 2>/dev/null | awk '{print $6}')
for f in ./usr/bin/setup-package ./usr/share/setup-package/{launcher.exe,setup-package.schema.json} \
         ./usr/share/setup-package/examples/{MySetup.toml,setup-data.txt,example.ico,sample_setup32.exe,sample_setup64.exe} \
         ./usr/share/man/man1/setup-package.1.gz ./usr/share/bash-completion/completions/setup-package \
         ./usr/share/doc/setup-package/{copyright,changelog.gz,README.md}; do
  check "the .deb holds $f" 'grep -qx "$f" <<<"$files"'
done
copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/setup-package/copyright)
check "the copyright file grants the project's licence" 'grep -q "^Files: \*" <<<"$copyright" && grep -q "^License: Zlib$" <<<"$copyright"'
check "the .deb depends on the libraries the tool links" 'dpkg-deb -f "$deb" Depends | grep -q liblzma5'
# Nothing installed names the folder it was built in.
check "the installed tool and manual page name no build folder" '! grep -q "$build" "$tool" && ! zcat "$work/prefix/share/man/man1/setup-package.1.gz" | grep -q "$build"'
check "the manual page has a manual page's sections" 'for s in NAME SYNOPSIS COMMANDS OPTIONS "\"EXIT STATUS\"" FILES EXAMPLES; do zcat "$work/prefix/share/man/man1/setup-package.1.gz" | grep -qx ".SH $s" || exit 1; done'
check "the guide says what the example does when run" 'grep -q "MySetup.exe.received.txt" "$work/prefix/share/doc/setup-package/README.md"'
check "completion offers each option once" 'COMP_WORDS=("$tool" build --); COMP_CWORD=2; source "$work/prefix/share/bash-completion/completions/setup-package"; _setup_package; [ "${#COMPREPLY[@]}" -gt 20 ] && [ -z "$(printf "%s\n" "${COMPREPLY[@]}" | sort | uniq -d)" ]'
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 -I "$deb" >"$work/lintian.txt" 2>&1
  check "lintian finds no error and no hardening note" '! grep -q "^E: \|hardening-no-" "$work/lintian.txt" || { cat "$work/lintian.txt"; false; }'
else
  echo "lintian is not installed: the .deb was not checked with it"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
