#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the 32- and 64-bit
# Windows DLLs (built with MinGW, tested under Wine, packed by cpack), the
# suite as built for debugging and as optimised for release (with the Debian
# package and the Python example), the conversion fuzzer for a bounded time,
# the suite again under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, and once more as built for 32-bit x86.
#
# Each stage prints one line: its name, its result and its time. What a stage
# writes goes to build/test-logs/ and is shown only when it fails (for a test
# stage, the output of each failed test). The last lines count the tests of
# every stage (the fuzzer's run is one test, a failed build one failure) and
# give each skipped test with its reason. Exits 1 when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/packages.sh

logs=$PWD/build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
passed=0
failed=0
skipped=0
listed=() # "skipped: ..." and "failed: ..." lines for the end

# The Windows tests would skip a DLL that is missing; here both are built
# first, so a missing one is a failure.
export BREVLO_REQUIRE_WINDOWS_DLLS=1

on_terminal() { [[ -t 1 ]]; }

# On a terminal, the stage's name and its progress (make's percentage, CTest's
# count of tests done), redrawn in place; elsewhere nothing.
show_progress() {
  if ! on_terminal; then
    cat >/dev/null
    return
  fi
  awk -v name="$1" '
    match($0, /^\[ *[0-9]+%\]/) { shown = substr($0, RSTART, RLENGTH) }
    match($0, /^ *[0-9]+\/[0-9]+ Test/) { shown = substr($0, RSTART, RLENGTH - 5) }
    shown != "" { printf "\r%-24s %s", name, shown; fflush(); shown = "" }'
}

# Runs COMMAND with its output in LOG, showing its progress as stage NAME.
run_logged() { # NAME LOG COMMAND...
  local name=$1 log=$2
  shift 2
  if on_terminal; then printf '%-24s' "$name"; fi
  "$@" 2>&1 | tee "$log" | show_progress "$name"
}

# One stage's line: name, result, seconds since START.
report() { # NAME RESULT START
  local clear=
  on_terminal && clear=$'\r\e[K'
  printf '%s%-24s %-40s %4d s\n' "$clear" "$1" "$2" $((SECONDS - $3))
}

# A stage that passes or fails as a whole (installing, building, fuzzing).
# COUNTED stages are tests: one passed or failed; the others count only when
# they fail.
stage() { # counted|uncounted NAME COMMAND...
  local kind=$1 name=$2 start=$SECONDS
  local log="$logs/${name// /-}.log"
  shift 2
  if run_logged "$name" "$log" "$@"; then
    report "$name" ok "$start"
    [[ "$kind" == counted ]] && passed=$((passed + 1))
    return 0
  fi
  report "$name" FAILED "$start"
  cat "$log"
  failed=$((failed + 1))
  listed+=("failed: $name (output above, and in $log)")
  return 1
}

# Counts a CTest run from its JUnit file: prints "PASSED FAILED SKIPPED", then
# one "skipped: ..." or "failed: ..." line per such test, and writes the output
# of each failed test to FAILURES. A test CTest did not run for a reason other
# than its own request to skip (a failed fixture, a missing file) has failed.
count_tests() { # JUNIT STAGE FAILURES
  python3 - "$@" <<'PYTHON'
import sys
import xml.etree.ElementTree as ElementTree

junit, stage, failures_path = sys.argv[1:]
counts = {"passed": 0, "failed": 0, "skipped": 0}
lines = []
with open(failures_path, "w") as failures:
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        name, status = case.get("name"), case.get("status")
        output = case.findtext("system-out") or ""
        skip = case.find("skipped")
        reason = skip.get("message", "") if skip is not None else ""
        if status == "run":
            counts["passed"] += 1
        elif status == "disabled" or reason.startswith("SKIP_"):
            counts["skipped"] += 1
            said = [line.strip() for line in output.splitlines() if line.strip()]
            # Scripts say "skipped: REASON"; GoogleTest "FILE:LINE: Skipped", then REASON.
            told = [line[len("skipped:"):] for line in said if line.startswith("skipped:")]
            told += [then for line, then in zip(said, said[1:]) if line.endswith(": Skipped")]
            why = told[0].strip() if told else (said[-1] if said else status)
            lines.append(f"skipped: {stage}: {name}: {why}")
        else:
            counts["failed"] += 1
            lines.append(f"failed: {stage}: {name}")
            failures.write(f"---- {name} ({reason or 'failed'})\n{output}\n")
print(counts["passed"], counts["failed"], counts["skipped"])
print("\n".join(lines))
PYTHON
}

test_stage() { # PRESET
  local name="test $1" start=$SECONDS
  local junit="$logs/test-$1.xml" log="$logs/test-$1.log" failures="$logs/test-$1-failures.log"
  run_logged "$name" "$log" ctest --preset "$1" --output-junit "$junit"
  local status=$?
  if [[ ! -s "$junit" ]]; then
    report "$name" FAILED "$start"
    cat "$log"
    failed=$((failed + 1))
    listed+=("failed: $name (CTest did not run; output above)")
    return
  fi
  local summary counts
  summary=$(count_tests "$junit" "$1" "$failures")
  read -r -a counts <<<"$(head -n1 <<<"$summary")"
  passed=$((passed + counts[0]))
  failed=$((failed + counts[1]))
  skipped=$((skipped + counts[2]))
  while IFS= read -r line; do [[ -n "$line" ]] && listed+=("$line"); done < <(tail -n +2 <<<"$summary")
  report "$name" "${counts[0]} passed, ${counts[1]} failed, ${counts[2]} skipped" "$start"
  if ((counts[1] > 0 || status != 0)); then
    cat "$failures"
    ((counts[1] > 0)) || { cat "$log"; failed=$((failed + 1)); listed+=("failed: $name"); }
  fi
}

# A MinGW build folder configured with the compilers of the win32 thread model,
# which cannot build brevlo.exe, is configured afresh with the toolchain's.
stale_compiler() { # PRESET
  local found
  found=$(grep -hs '^set(CMAKE_CXX_COMPILER "' "build/$1"/CMakeFiles/*/CMakeCXXCompiler.cmake) || return 1
  [[ "$1" == mingw-* && "$found" != *-posix'")' ]]
}

build_stage() { # PRESET
  local fresh=
  stale_compiler "$1" && fresh=--fresh
  stage uncounted "build $1" sh -c 'cmake --preset "$1" $2 && cmake --build --preset "$1"' sh "$1" "$fresh"
}

start=$SECONDS
stage uncounted packages scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
  "${HOSTILE_TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" \
  "${I686_PACKAGES[@]}" || exit 1

built=()
for preset in mingw-i686 mingw-x86_64 debug release asan fuzz; do
  build_stage "$preset" && built+=("$preset")
done
has_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

fuzz_seconds=${BREVLO_FUZZ_SECONDS:-60}
has_built fuzz && stage counted "fuzz ${fuzz_seconds} s" fuzz/run.sh "$fuzz_seconds"
for preset in debug release asan; do
  has_built "$preset" && test_stage "$preset"
done

# The suite again as built for 32-bit x86, the Windows DLL's instruction set
# (through qemu-i386 where this machine cannot start i386 programs).
build_stage linux-i686 && test_stage linux-i686

report "all stages" "" "$start"
echo "tests: $passed passed, $failed failed, $skipped skipped"
for line in "${listed[@]}"; do echo "  $line"; done
((failed == 0))
