# Sourced by the set-up scripts: apt helpers that retry what a mirror in the
# middle of a sync makes fail for a while.
need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: needs root for apt-get (run with sudo)" >&2
    exit 1
  fi
}

apt_updated=0
apt_update() {
  [ "$apt_updated" -eq 1 ] && return 0
  local try
  for try in 1 2 3; do
    if apt-get update -qq; then apt_updated=1; return 0; fi
    [ "$try" -lt 3 ] || break
    echo "setup: apt-get update failed (a mirror being synced?); trying again in $((try * 15)) s" >&2
    sleep $((try * 15))
  done
  # Some mirrors keep one index wrong for days; the install that follows
  # fails by itself if what it needs is not in the indexes that did arrive.
  echo "setup: apt-get update failed three times; going on with the indexes it fetched" >&2
  apt_updated=1
}

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
