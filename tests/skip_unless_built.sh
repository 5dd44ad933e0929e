#!/usr/bin/env bash
# Runs a test of what another build folder makes (the Windows DLLs and their
# host program, built by the mingw-* presets) only once that folder has made it.
# Until then the test is skipped (exit 77) with the command that builds it, so
# a build that did not make them still passes its own tests; with
# BREVLO_REQUIRE_WINDOWS_DLLS=1 (as scripts/test.sh sets, having built them)
# a missing file fails the test instead.
#
#   skip_unless_built.sh PRESET FILE [FILE ...] -- COMMAND [ARGUMENT ...]
set -euo pipefail
preset=$1
shift
missing=()
while [[ "$1" != -- ]]; do
  [[ -f "$1" ]] || missing+=("$1")
  shift
done
shift
if ((${#missing[@]} > 0)); then
  build="cmake --preset $preset && cmake --build --preset $preset"
  if [[ -n "${BREVLO_REQUIRE_WINDOWS_DLLS:-}" ]]; then
    echo "${missing[*]} missing; build with: $build"
    exit 1
  fi
  echo "skipped: ${missing[*]} not built; build with: $build"
  exit 77
fi
exec "$@"
