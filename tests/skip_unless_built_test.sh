#!/usr/bin/env bash
# skip_unless_built.sh, as the Windows tests meet it: in a build that did not
# make the DLL the test is skipped and names the command that builds it; when
# scripts/test.sh requires the DLLs their absence fails the test; once the file
# is there the test itself runs and its result stands.
#
#   skip_unless_built_test.sh PATH/skip_unless_built.sh
set -uo pipefail
runner=$1
built=$(mktemp)
trap 'rm -f "$built"' EXIT
absent=/nonexistent/brevlo32.dll
build_command="cmake --preset mingw-i686 && cmake --build --preset mingw-i686"

failures=0
# expect STATUS TEXT REQUIRE FILE: the runner's exit status and a text its
# output must hold, for the file given and BREVLO_REQUIRE_WINDOWS_DLLS=REQUIRE.
expect() {
  local output status
  output=$(BREVLO_REQUIRE_WINDOWS_DLLS=$3 "$runner" mingw-i686 "$built" "$4" -- sh -c 'echo ran; exit 3')
  status=$?
  if [[ $status -ne $1 || "$output" != *"$2"* ]]; then
    echo "FAILED: with $4 (required: ${3:-no}) expected exit $1 and '$2', got $status: $output"
    failures=$((failures + 1))
  fi
}
expect 77 "skipped: $absent not built; build with: $build_command" "" "$absent"
expect 1 "$absent missing; build with: $build_command" 1 "$absent"
expect 3 ran "" "$built"
expect 3 ran 1 "$built"
((failures == 0)) && echo "all passed"
