#!/usr/bin/env bash
# Runs a Windows console program under Wine in a private prefix, creating the
# prefix on first use and keeping it for later runs. ARCH is win32 (32-bit
# Wine) or win64 (64-bit Wine); each needs a prefix of its own, as a prefix
# made by one cannot run the other's programs. Unix paths among the arguments
# (those starting with /) are handed over as Windows paths on drive Z:.
# Nothing is shown or asked: no display is needed and input is closed.
#
#   run_under_wine.sh ARCH PREFIX PROGRAM.exe [ARGUMENT ...]
#
# Exits 77 (a skipped test) when this machine cannot run 32-bit x86 programs
# natively: 32-bit Wine then either fails to start or, under an emulator, hangs.
set -euo pipefail
arch=$1
prefix=$2
shift 2
readonly skipped=77

case "$arch" in
win32) loader=/usr/lib/wine/wine ;;
win64) loader=/usr/lib/wine/wine64 ;;
*)
  echo "unknown Wine architecture: $arch (win32 or win64)" >&2
  exit 2
  ;;
esac

if [[ ! -x "$loader" ]]; then
  echo "$loader is missing: install Wine for $arch (scripts/install-deps.sh)"
  exit 1
fi

# An i386 ELF program handed to an emulator through binfmt_misc does not run
# natively, even though it starts.
i386_goes_to_an_emulator() {
  local entry
  [[ "$(cat /proc/sys/fs/binfmt_misc/status 2>/dev/null)" == enabled ]] || return 1
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [[ -f "$entry" && "$(head -n1 "$entry")" == enabled ]] || continue
    grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" && return 0
  done
  return 1
}

if [[ "$arch" == win32 ]]; then
  if i386_goes_to_an_emulator; then
    echo "skipped: 32-bit x86 programs run here only under an emulator, where 32-bit Wine hangs"
    exit "$skipped"
  fi
  if [[ "$(timeout 30 "$loader" --version 2>/dev/null)" != wine-* ]]; then
    echo "skipped: this machine cannot run 32-bit x86 programs, so 32-bit Wine cannot start"
    exit "$skipped"
  fi
fi

if [[ ! -f "$1" ]]; then
  echo "$1 is missing: build it first (see the README's section on the Windows DLL)"
  exit 1
fi

export WINEPREFIX=$prefix
export WINELOADER=$loader
export WINEARCH=$arch
export WINEDEBUG=-all
# No .NET or HTML engine to offer to install, no menu entries to create.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [[ ! -f "$prefix/system.reg" ]]; then
  echo "Creating the Wine prefix $prefix (once)"
  rm -rf "$prefix"
  "$loader" wineboot --init </dev/null
  /usr/lib/wine/wineserver --wait
fi

windows_path() {
  local path=$1
  [[ "$path" == /* ]] && path="Z:${path//\//\\}"
  printf '%s' "$path"
}

arguments=()
for argument in "$@"; do arguments+=("$(windows_path "$argument")"); done

status=0
"$loader" "${arguments[@]}" </dev/null || status=$?
/usr/lib/wine/wineserver --wait
exit "$status"
