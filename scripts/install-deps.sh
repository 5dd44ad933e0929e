#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not yet
# installed. Quick and silent when everything is present; needs root (or sudo)
# only when something is missing. Packages ending in :i386 enable that
# architecture first.
set -euo pipefail

native=$(dpkg --print-architecture)

# Installed: for a name without an architecture, the build machine's own
# package or an architecture-independent one (another architecture's copy of a
# library, installed beside it, does not count).
is_installed() {
  local arch status
  while read -r arch status; do
    [[ "$status" == ii ]] || continue
    [[ "$1" == *:* || "$arch" == "$native" || "$arch" == all ]] && return 0
  done < <(dpkg-query -W -f='${Architecture} ${db:Status-Abbrev}\n' "$1" 2>/dev/null || true)
  return 1
}

missing=()
for package in "$@"; do
  is_installed "$package" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}" >&2
# An index that fails to download (a mirror in the middle of a sync) is only
# reported: the install below says whether what is here is enough.
"${as_root[@]}" apt-get update -qq || echo "apt-get update failed; installing from the indexes there are" >&2
install_missing() {
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "$@" "${missing[@]}" >/dev/null
}
# When one architecture's update index is missing, the two architectures'
# copies of a shared library can disagree on the newest version; the
# release's own archive then gives both the same one.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
install_missing || { [[ -n "$release" ]] && echo "retrying from $release's own archive" >&2 &&
  install_missing -t "$release"; }
