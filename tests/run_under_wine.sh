#!/usr/bin/env bash
# Runs a Windows console program under Wine in a private prefix, creating the
# prefix on first use and keeping it for later runs. Unix paths among the
# arguments (those starting with /) are handed over as Windows paths on drive Z:.
# Nothing is shown or asked: no display is needed and input is closed.
#
#   run_under_wine.sh PREFIX PROGRAM.exe [ARGUMENT ...]
set -euo pipefail
prefix=$1
shift
if [[ ! -f "$1" ]]; then
  echo "$1 is missing: build it first (cmake --preset mingw-i686 && cmake --build --preset mingw-i686)"
  exit 1
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No .NET or HTML engine to offer to install, no menu entries to create.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY

if [[ ! -f "$prefix/system.reg" ]]; then
  echo "Creating the Wine prefix $prefix (once)"
  rm -rf "$prefix"
  wineboot --init </dev/null
  wineserver --wait
fi

windows_path() {
  local path=$1
  [[ "$path" == /* ]] && path="Z:${path//\//\\}"
  printf '%s' "$path"
}

arguments=()
for argument in "$@"; do arguments+=("$(windows_path "$argument")"); done

status=0
wine "${arguments[@]}" </dev/null || status=$?
wineserver --wait
exit "$status"
