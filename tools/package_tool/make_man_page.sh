#!/bin/sh
# make_man_page.sh TOOL OUT: setup-package(1), gzipped as Debian keeps
# manual pages. Each command's description and options come from the tool's
# own --help (so the page and the tool say the same), set as a manual page.
set -eu
tool=$1 out=$2
version=$("$tool" --version | sed 's/^setup-package //')
echo() { printf '%s\n' "$*"; }  # no escapes read in the text
escape() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e 's/^\([.'"'"']\)/\\\&\1/'; }
# A command's description: the lines of its --help before "Usage:", as one
# paragraph.
description() { "$tool" "$1" --help | sed -n '/^Usage:/q;p' | escape; }
# The options of a --help listing ("  --name TYPE   text", text continued on
# indented lines) as tagged paragraphs, but for those whose names match $1.
options() {
  sed -n '/^Positionals:/,/^Subcommands:/p;/^Options:/,/^$/p' | grep -v '^Positionals:\|^Options:\|^Subcommands:\|^$' |
    awk -v drop="$1" '
      /^  [^ ]/ {
        # the name in columns 3 to 29, the text from column 31 on; a longer
        # name has its text on the next line
        if (length($0) > 30 && substr($0, 30, 1) == " ") { name = substr($0, 3, 27); text = substr($0, 31) }
        else { name = substr($0, 3); text = "" }
        if (text ~ /^[A-Z]+$/) { name = name " " text; text = "" }  # the type word of a long name
        sub(/ +$/, "", name)
        skip = name ~ drop
        if (!skip) printf ".TP\n\\fB%s\\fR\n", name
        if (!skip && text != "") print text
        next
      }
      !skip { sub(/^ +/, ""); print }' | escape_tags
}
# Escapes the text but keeps the font requests that options() wrote.
escape_tags() { escape | sed -e 's/\\efB/\\fB/g' -e 's/\\efR/\\fR/g' -e 's/^\\&\.TP$/.TP/'; }
{
  echo ".TH SETUP-PACKAGE 1 \"\" \"setup-package $version\" \"User Commands\""
  echo ".SH NAME"
  echo 'setup-package \- makes, inspects, checks and unpacks one-file setup packages'
  echo ".SH SYNOPSIS"
  for synopsis in 'build [\fIOPTIONS\fR]' 'inspect [\fIOPTIONS\fR] \fIPACKAGE\fR' 'verify [\fIOPTIONS\fR] \fIPACKAGE\fR' \
                  'extract [\fIOPTIONS\fR] \fIPACKAGE\fR \fB\-\-output\-dir\fR \fIFOLDER\fR' 'explain [\fICODE\fR]'; do
    echo ".br"
    echo "\\fBsetup\\-package\\fR [\\fB\\-q\\fR|\\fB\\-v\\fR] \\fB${synopsis%% *}\\fR ${synopsis#* }"
  done
  echo ".SH DESCRIPTION"
  echo 'setup\-package makes one\-file setup packages for Windows: a small 32\-bit launcher image followed by'
  echo 'LZMA\-compressed setup programs, setup data and messages. The launcher checks the package and the'
  echo 'machine, runs the fitting setup program from a temporary copy, waits and deletes the copy.'
  echo ".SH COMMANDS"
  for command in build inspect verify extract explain; do
    echo ".TP"
    echo ".B $command"
    description "$command"
  done
  echo ".SH OPTIONS"
  echo "Before or after the command:"
  "$tool" --help | options '^-h,--help$'
  for command in build inspect verify extract explain; do
    echo ".SS \"$command\""
    "$tool" "$command" --help | options '^(-h,--help|-q,--quiet|-v,--verbose)$'
  done
  echo ".SH \"EXIT STATUS\""
  echo ".TP"; echo ".B 0"; echo "fine"
  echo ".TP"; echo ".B 1"; echo "the package has problems (or, with \\fB\\-\\-strict\\fR, a warning); a file carries no package"
  echo ".TP"; echo ".B 2"; echo "called wrongly: the message names the option"
  echo ".TP"; echo ".B 3"; echo "a file could not be read or written"
  echo ".SH FILES"
  echo ".TP"; echo ".I /usr/share/setup\\-package/launcher.exe"
  echo "the launcher image that \\fBbuild\\fR uses without \\fB\\-\\-launcher\\fR and packages are compared with"
  echo ".TP"; echo ".I /usr/share/setup\\-package/examples"
  echo "the worked example: a package file, two sample setup programs, setup data and an icon"
  echo ".TP"; echo ".I /usr/share/setup\\-package/setup\\-package.schema.json"
  echo "the JSON Schema of what \\fB\\-\\-json\\fR prints"
  echo ".SH EXAMPLES"
  echo ".nf"
  echo 'cp \-r /usr/share/setup\-package/examples my\-setup && cd my\-setup'
  echo 'setup\-package build \-\-config MySetup.toml'
  echo 'setup\-package inspect MySetup.exe'
  echo 'setup\-package verify MySetup.exe'
  echo 'setup\-package extract MySetup.exe \-\-output\-dir unpacked'
  echo 'setup\-package build \-\-program32 setup32.exe \-\-program64 setup64.exe \-\-output MySetup.exe'
  echo 'setup\-package explain crc\-mismatch'
  echo ".fi"
  echo ".SH \"SEE ALSO\""
  echo "\\fI/usr/share/doc/setup\\-package/README.md\\fR, the author's guide"
} | gzip -9n >"$out"
