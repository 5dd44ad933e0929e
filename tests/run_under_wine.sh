#!/usr/bin/env bash
# Runs a Windows console program under Wine in a private prefix, creating the
# prefix on first use and keeping it for later runs. ARCH is win32 (32-bit
# Wine) or win64 (64-bit Wine); each needs a prefix of its own, as a prefix
# made by one cannot run the other's programs. Unix paths among the arguments
# (those starting with /) are handed over as Windows paths on drive Z:.
# Nothing is shown or asked: no display is needed and input is closed.
#
#   run_under_wine.sh [--qemu-preload LIBRARY] ARCH PREFIX PROGRAM.exe [ARGUMENT ...]
#   run_under_wine.sh [--qemu-preload LIBRARY] --driver ARCH PREFIX PROGRAM [ARGUMENT ...]
#
# With --driver, PROGRAM is a program of this machine that runs Windows
# programs itself, through "$WINELOADER", in the session made here; its
# arguments are handed over unchanged.
#
# 32-bit Wine runs natively where the kernel runs i386 programs; elsewhere it
# runs under qemu-i386 through wine32_under_qemu.sh, which needs LIBRARY (built
# from qemu_mmap_noreplace.c). Exits 77 (a skipped test), with the reason, only
# when neither works.
#
# The program runs in a Wine session of its own: a server kept alive from a
# warm-up program to the end and stopped (wineserver -k) however the run ends.
# The warm-up takes the session's start (Wine's services and drivers, which
# under emulation sometimes crash or stall) off the program under test; it has a
# time limit and up to three tries, each in a fresh session.
set -euo pipefail
here=$(dirname "$0")
preload=
if [[ "$1" == --qemu-preload ]]; then
  preload=$2
  shift 2
fi
driver=()
if [[ "$1" == --driver ]]; then
  driver=(--driver)
  shift
fi
arch=$1
prefix=$2
shift 2
readonly skipped=77
readonly session_tries=3
readonly prefix_seconds=180
readonly warm_up_seconds=60
# The server outlives its last program by this long: enough to keep the session
# from the warm-up to the program under test, and a bound on how long it stays
# should this script be killed before it can stop it.
readonly session_linger_seconds=60

case "$arch" in
win32) loader=/usr/lib/wine/wine ;;
win64) loader=/usr/lib/wine/wine64 ;;
*)
  echo "unknown Wine architecture: $arch (win32 or win64)" >&2
  exit 2
  ;;
esac
server=/usr/lib/wine/wineserver

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

i386_runs_natively() {
  ! i386_goes_to_an_emulator && [[ "$(timeout 30 "$loader" --version 2>/dev/null)" == wine-* ]]
}

if [[ "$arch" == win32 && -z "${BREVLO_I386_UNDER_QEMU:-}" ]] && ! i386_runs_natively; then
  echo "32-bit x86 programs do not run natively here: running 32-bit Wine under qemu-i386"
  exec "$here/wine32_under_qemu.sh" "$preload" "$0" "${driver[@]}" "$arch" "$prefix" "$@"
fi

if [[ -n "${BREVLO_I386_UNDER_QEMU:-}" && "$(timeout 60 "$loader" --version 2>/dev/null)" != wine-* ]]; then
  echo "skipped: 32-bit Wine starts neither natively nor under qemu-i386 here"
  exit "$skipped"
fi

export WINEPREFIX=$prefix
export WINELOADER=$loader
export WINEARCH=$arch
export WINEDEBUG=-all
# No .NET or HTML engine to offer to install, no menu entries to create.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Under qemu, Wine's services (device drivers, event log, plug and play) crash,
# since qemu cannot hand them the exceptions they raise, and stall the session's
# start for up to a minute. The host program needs none of them.
if [[ -n "${BREVLO_I386_UNDER_QEMU:-}" ]]; then WINEDLLOVERRIDES+=";services.exe=d"; fi
unset DISPLAY WAYLAND_DISPLAY

stop_session() {
  "$server" -k 2>/dev/null || true
  "$server" -w 2>/dev/null || true
}

# A prefix counts as made once Wine has written its registry and its record of
# the Wine version that made it.
prefix_is_made() {
  [[ -f "$prefix/system.reg" && -f "$prefix/.update-timestamp" ]]
}

make_prefix() {
  echo "Creating the Wine prefix $prefix (once)"
  rm -rf "$prefix"
  timeout "$prefix_seconds" "$loader" wineboot --init </dev/null
}

# Starts a server that outlives its clients, then the session's first program.
start_session() {
  "$server" -p"$session_linger_seconds"
  if ! prefix_is_made; then make_prefix || return 1; fi
  timeout "$warm_up_seconds" "$loader" cmd /c exit 0 </dev/null
}

trap stop_session EXIT
try=1
until start_session; do
  stop_session
  if ((try == session_tries)); then
    echo "the Wine session did not start in $session_tries tries"
    exit 1
  fi
  echo "the Wine session did not start (try $try of $session_tries); starting it again"
  try=$((try + 1))
done
echo "Wine session started in $SECONDS s"

if ((${#driver[@]} > 0)); then
  "$@" </dev/null
  exit
fi

windows_path() {
  local path=$1
  [[ "$path" == /* ]] && path="Z:${path//\//\\}"
  printf '%s' "$path"
}

arguments=()
for argument in "$@"; do arguments+=("$(windows_path "$argument")"); done

"$loader" "${arguments[@]}" </dev/null
