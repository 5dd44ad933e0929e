#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the 32- and 64-bit
# Windows DLLs (built with MinGW, tested under Wine, packed by cpack), the
# suite as built for debugging and as optimised for release (with the Debian
# package and the Python example), the conversion fuzzer for a bounded time,
# the suite again under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, and once more as built for 32-bit x86.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
  "${HOSTILE_TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" \
  "${I686_PACKAGES[@]}"

fuzz_seconds=${BREVLO_FUZZ_SECONDS:-60}
for preset in mingw-i686 mingw-x86_64 debug release asan fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "Fuzzing the conversion for ${fuzz_seconds} s"
fuzz/run.sh "$fuzz_seconds"
ctest --preset debug
ctest --preset release
ctest --preset asan

# The suite again as built for 32-bit x86, the Windows DLL's instruction set
# (through qemu-i386 where this machine cannot start i386 programs).
cmake --preset linux-i686 >/dev/null
cmake --build --preset linux-i686
ctest --preset linux-i686
