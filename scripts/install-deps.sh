#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are not yet
# installed. Quick and silent when everything is present; needs root (or sudo)
# only when something is missing. Packages ending in :i386 enable that
# architecture first.
set -euo pipefail

# A name without an architecture means this machine's own (or an
# architecture-independent package), even when other architectures' copies of
# it are installed too.
native=$(dpkg --print-architecture)
installed() {
  local want="^($native|all) "
  [[ "$1" == *:* ]] && want="^[^ ]+ "
  dpkg-query -W -f='${Architecture} ${Status}\n' "$1" 2>/dev/null |
    grep -Eq "${want}install ok installed$"
}

missing=()
for package in "$@"; do
  installed "$package" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}" >&2
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
