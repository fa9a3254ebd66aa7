#!/usr/bin/env bash
# Installs everything the project needs on a Debian machine and builds the
# static liblzmas for Windows: the launcher's decoder and the Windows tool's.
# Safe to run again: each step checks first and does nothing when its work is
# already done.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

. "$here/scripts/common.sh"

# Host build and tests and the cross compilers; what Wine needs comes last,
# by backend.
packages=(cmake g++ make pkg-config python3
          liblzma-dev zlib1g-dev libgtest-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libtomlplusplus-dev
          clang libclang-rt-14-dev
          g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-i686
          dpkg-dev xz-utils time openssl osslsigncode python3-jsonschema lintian)

# xz_utils_source DIR: fetches Debian's xz-utils source package into DIR
# through an apt state of its own (one deb-src entry for the suite's main
# index, lists in DIR), so the machine's apt sources stay as they are.
xz_utils_source() {
  local dir=$1 suite mirror
  suite=$(debian_suite)
  mirror=$(debian_mirror "$suite")
  mkdir -p "$dir/apt/lists/partial" "$dir/apt/archives/partial"
  echo "deb-src $mirror $suite main" >"$dir/apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$dir/apt/sources.list" -o "Dir::Etc::SourceParts=$dir/apt/none"
              -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::Cache::Archives=$dir/apt/archives"
              -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq >/dev/null &&
    ( cd "$dir" && apt-get "${opts[@]}" source -qq xz-utils >/dev/null 2>&1 )
}

apt_install "${packages[@]}"
# Earlier versions of this script left a deb-src entry in the machine's own
# apt sources; it is not needed any more.
if [ -f /etc/apt/sources.list.d/project-deb-src.sources ] && [ "$(id -u)" -eq 0 ]; then
  rm -f /etc/apt/sources.list.d/project-deb-src.sources
fi

# static_liblzma NAME HOST FLAGS CONFIGURE_ARGS...: a static liblzma for HOST
# from Debian's xz-utils source, built once for each set of flags and
# arguments in its own folder, with $cache_root/NAME pointing at the current one.
static_liblzma() {
  local name=$1 host=$2 cflags=$3
  shift 3
  local link=$cache_root/$name
  local cache=$link-$(echo "$cflags $*" | sha256sum | cut -c1-12)
  if [ ! -f "$cache/lib/liblzma.a" ]; then
    need_root
    mkdir -p "$cache_root"
    local work src
    work=$(mktemp -d)
    xz_utils_source "$work" || { echo "setup: could not fetch the xz-utils source package" >&2; exit 1; }
    src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'xz-utils-*' | head -n 1)
    [ -n "$src" ] || { echo "setup: xz-utils source not found" >&2; exit 1; }
    echo "setup: building liblzma for $host from $(basename "$src")"
    ( cd "$src" &&
      ./configure -q --host="$host" --prefix="$cache" --disable-shared --enable-static "$@" \
        --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-lzma-links \
        --disable-scripts --disable-doc --disable-nls --disable-rpath CFLAGS="$cflags" &&
      make -s -j"$(nproc)" -C src/liblzma &&
      make -s -C src/liblzma install ) >"$work/build.log" 2>&1
    if [ ! -f "$cache/lib/liblzma.a" ]; then
      tail -20 "$work/build.log" >&2
      echo "setup: liblzma for $host did not build" >&2
      exit 1
    fi
    rm -rf "$work"
  fi
  if [ "$(readlink "$link" 2>/dev/null)" != "$cache" ]; then
    need_root
    rm -rf "$link"
    ln -s "$cache" "$link"
  fi
}

# The launcher's: decoder-only, for i686-w64-mingw32, with the flags that
# cmake/windows.cmake states (and why).
lzma_cflags=$(sed -n 's/^# LIBLZMA_CFLAGS: //p' "$here/cmake/windows.cmake")
[ -n "$lzma_cflags" ] || { echo "setup: no LIBLZMA_CFLAGS line in cmake/windows.cmake" >&2; exit 1; }
static_liblzma liblzma-i686 i686-w64-mingw32 "$lzma_cflags" \
  --disable-threads --enable-small --disable-encoders --enable-decoders=lzma1 --disable-match-finders \
  --enable-checks=crc32
# The Windows tool's: encoder and decoder, for x86_64-w64-mingw32, as the
# Linux tool's liblzma (the same source, so the same compressed bytes); no
# threads, which the tool does not ask of it.
static_liblzma liblzma-x86_64 x86_64-w64-mingw32 "-O2" --disable-threads

# Wine for the end-to-end tests, on the backend this machine can run.
if [ "${SETUP_SKIP_WINE:-0}" != 1 ]; then
  "$here/scripts/wine/setup.sh"
fi
echo "setup: ready"
