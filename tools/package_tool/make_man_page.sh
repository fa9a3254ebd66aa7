#!/bin/sh
# make_man_page.sh TOOL OUT: setup-package(1), made from the tool's own
# --help texts (so the page and the tool say the same), gzipped as Debian
# keeps manual pages.
set -eu
tool=$1 out=$2
version=$("$tool" --version | sed 's/^setup-package //')
line() { printf '%s\n' "$*"; }
escape() { sed -e 's/\\/\\e/g' -e 's/^\([.'"'"']\)/\\\&\1/'; }
{
  echo ".TH SETUP-PACKAGE 1 \"\" \"setup-package $version\" \"User Commands\""
  echo ".SH NAME"
  line 'setup-package \- makes, inspects, checks and unpacks one-file setup packages'
  echo ".SH SYNOPSIS"
  echo ".B setup-package"
  line '[\fB\-q\fR|\fB\-v\fR] \fICOMMAND\fR [\fIOPTIONS\fR]'
  echo ".SH DESCRIPTION"
  echo ".nf"
  "$tool" --help | escape
  echo ".fi"
  for command in build inspect verify extract explain; do
    echo ".SH \"$(echo "$command" | tr a-z A-Z)\""
    echo ".nf"
    "$tool" "$command" --help | escape
    echo ".fi"
  done
  echo ".SH FILES"
  line '\fI/usr/share/setup-package/launcher.exe\fR, the launcher image build uses without \fB\-\-launcher\fR;'
  echo .br
  line '\fI/usr/share/setup-package/examples\fR, the worked example of the README;'
  echo .br
  line '\fI/usr/share/setup-package/setup-package.schema.json\fR, the JSON Schema of what \fB\-\-json\fR prints.'
  echo ".SH \"SEE ALSO\""
  line '\fI/usr/share/setup-package/README.md\fR'
} | gzip -9n >"$out"
