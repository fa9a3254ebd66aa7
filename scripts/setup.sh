#!/usr/bin/env bash
# Installs everything the project needs on a Debian machine and builds the
# decoder-only liblzma for the Windows launcher. Safe to run again: each step
# checks first and does nothing when its work is already done.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

. "$here/scripts/apt.sh"

# Host build and tests and the cross compilers; what Wine needs comes last,
# by backend.
packages=(cmake g++ make pkg-config python3
          liblzma-dev zlib1g-dev libgtest-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libtomlplusplus-dev
          clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          dpkg-dev xz-utils time openssl osslsigncode)

# deb-src entries, derived from the configured deb entries (needed by
# "apt-get source xz-utils").
add_deb_src() {
  local out=/etc/apt/sources.list.d/project-deb-src.sources
  [ -f "$out" ] && return 1
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 1
  : >"$out.tmp"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN{RS=""; ORS="\n\n"} /(^|\n)Types:[^\n]*deb/ && /(^|\n)URIs:[^\n]*debian/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$out.tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb [^#]*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      awk '{print "Types: deb-src\nURIs: "$2"\nSuites: "$3"\nComponents: "substr($0, index($0,$4))"\n"}' >>"$out.tmp" || true
  fi
  if [ -s "$out.tmp" ]; then mv "$out.tmp" "$out"; return 0; fi
  rm -f "$out.tmp"; return 1
}

apt_install "${packages[@]}"

# Static decoder-only liblzma for i686-w64-mingw32, from Debian's xz-utils
# source, with the flags that cmake/windows.cmake states (and why). Each set of
# flags has its own folder; liblzma-i686 points at the current one.
lzma_cflags=$(sed -n 's/^# LIBLZMA_CFLAGS: //p' "$here/cmake/windows.cmake")
[ -n "$lzma_cflags" ] || { echo "setup: no LIBLZMA_CFLAGS line in cmake/windows.cmake" >&2; exit 1; }
link=/var/cache/setup-launcher/liblzma-i686
cache=$link-$(echo "$lzma_cflags" | sha256sum | cut -c1-12)
if [ ! -f "$cache/lib/liblzma.a" ]; then
  need_root
  if add_deb_src; then apt_updated=0; fi
  work=$(mktemp -d)
  if ! ( cd "$work" && apt-get source -qq xz-utils >/dev/null 2>&1 ); then
    apt_update
    ( cd "$work" && apt-get source -qq xz-utils >/dev/null )
  fi
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'xz-utils-*' | head -n 1)
  [ -n "$src" ] || { echo "setup: xz-utils source not found" >&2; exit 1; }
  echo "setup: building liblzma for i686-w64-mingw32 from $(basename "$src")"
  ( cd "$src" &&
    ./configure -q --host=i686-w64-mingw32 --prefix="$cache" \
      --disable-shared --enable-static --disable-threads --enable-small \
      --disable-encoders --enable-decoders=lzma1 --disable-match-finders \
      --enable-checks=crc32 --disable-xz --disable-xzdec --disable-lzmadec \
      --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc \
      --disable-nls --disable-rpath CFLAGS="$lzma_cflags" >/dev/null &&
    make -s -j"$(nproc)" -C src/liblzma >/dev/null &&
    make -s -C src/liblzma install >/dev/null )
  rm -rf "$work"
fi
if [ "$(readlink "$link" 2>/dev/null)" != "$cache" ]; then
  need_root
  rm -rf "$link"
  ln -s "$cache" "$link"
fi
# Wine for the end-to-end tests, on the backend this machine can run.
if [ "${SETUP_SKIP_WINE:-0}" != 1 ]; then
  "$here/scripts/wine/setup.sh"
fi
echo "setup: ready"
