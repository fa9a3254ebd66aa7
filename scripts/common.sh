# Sourced by the set-up and Wine scripts: where the project keeps what it
# builds once per machine, the machine's Debian mirror, and apt helpers that
# retry what a mirror in the middle of a sync makes fail for a while.

# Everything built once per machine (liblzma for Windows, the Wine root, the
# prefixes, the emulated machine's image) lives below this folder, outside
# the work tree, so every clone on the machine shares it.
cache_root=${SETUP_LAUNCHER_CACHE:-/var/cache/setup-launcher}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: needs root for apt-get and for building the Wine root (run with sudo)" >&2
    exit 1
  fi
}

# debian_mirror SUITE: prints the mirror that this machine's apt sources use
# for SUITE (deb822 .sources files or one-line sources.list entries).
debian_mirror() {
  local suite=$1 f uri=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk -v suite="$suite" 'BEGIN { RS = "" }
      {
        types = ""; uris = ""; suites = ""
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^Types:/)  types = " " substr(lines[i], 7) " "
          if (lines[i] ~ /^URIs:/)   uris = substr(lines[i], 6)
          if (lines[i] ~ /^Suites:/) suites = " " substr(lines[i], 8) " "
        }
        gsub(/\t/, " ", types); gsub(/\t/, " ", suites)
        if (types ~ / deb / && suites ~ (" " suite " ")) { split(uris, u, " "); print u[1]; exit }
      }' "$f")
    [ -z "$uri" ] || break
  done
  if [ -z "$uri" ]; then
    uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      sed -E 's/^[[:space:]]*//; s/\[[^]]*\][[:space:]]*//' |
      awk -v suite="$suite" '$1 == "deb" && $3 == suite { print $2; exit }')
  fi
  if [ -z "$uri" ]; then
    echo "setup: no apt source of this machine names a Debian mirror for \"$suite\" (looked in /etc/apt/sources.list and /etc/apt/sources.list.d)" >&2
    return 1
  fi
  echo "$uri"
}

# apt_update_retrying [COMMAND...]: "apt-get update -qq", run through COMMAND
# when given (chroot ROOT), tried three times: a mirror in the middle of a
# sync answers with index files of the wrong size for a while. Some mirrors
# keep one index wrong for days; what follows fails by itself if what it
# needs is not in the indexes that did arrive.
apt_update_retrying() {
  local try
  for try in 1 2 3; do
    if "$@" apt-get update -qq; then return 0; fi
    [ "$try" -lt 3 ] || break
    echo "setup: apt-get update failed (a mirror being synced?); trying again in $((try * 15)) s" >&2
    sleep $((try * 15))
  done
  echo "setup: apt-get update failed three times; going on with the indexes it fetched" >&2
}

apt_updated=0
apt_update() {
  [ "$apt_updated" -eq 1 ] && return 0
  apt_update_retrying
  apt_updated=1
}

# debian_suite: this machine's Debian suite (bookworm, ...).
debian_suite() { (. /etc/os-release && echo "$VERSION_CODENAME"); }

# apt_install PACKAGE...: installs the ones that are not installed yet.
apt_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  need_root
  apt_update
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The launcher image's size budget, as CMakeLists.txt states it.
image_budget() {
  sed -n 's/^set(LAUNCHER_IMAGE_BUDGET \([0-9]*\)).*/\1/p' "$scripts_dir/../CMakeLists.txt"
}

# cached_build NAME KEY BUILD: leaves in $built the folder
# $cache_root/NAME/KEY, running the function BUILD (given that folder, empty)
# first when it is not ready. One build at a time (a lock per NAME). A build
# that fails ends the script (set -e) and leaves no ready folder; once one is
# ready, the folders of other keys (made by older scripts) are removed.
# BUILD writes only to standard error.
cached_build() {
  local cache="$cache_root/$1" key=$2 build=$3
  built="$cache/$key"
  [ -f "$built/ready" ] && return 0
  mkdir -p "$cache"
  exec 9>"$cache/lock"
  flock 9
  if [ ! -f "$built/ready" ]; then
    rm -rf "$built"
    mkdir -p "$built"
    "$build" "$built" >&2
    touch "$built/ready"
    find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} +
  fi
  exec 9>&-
}

# The Wine root and what is made from it are keyed by the scripts that make
# them, so a change to any of them makes them anew.
wine_root_key() {
  cat "$scripts_dir/wine/root.sh" "$scripts_dir/wine/box-init" | sha256sum | cut -c1-12
}
wine_prefixes_key() {
  (wine_root_key; cat "$scripts_dir/wine/prepare-prefixes.sh") | sha256sum | cut -c1-12
}
scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
