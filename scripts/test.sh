#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Windows DLL (built
# with MinGW, tested under Wine), the suite as built for debugging, the
# conversion fuzzer for a bounded time, and the suite again under
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, and once more
# as built for 32-bit x86.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
  "${HOSTILE_TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686

fuzz_seconds=${BREVLO_FUZZ_SECONDS:-60}
for preset in debug asan fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
echo "Fuzzing the conversion for ${fuzz_seconds} s"
fuzz/run.sh "$fuzz_seconds"
ctest --preset debug
ctest --preset asan

# The suite again as built for 32-bit x86, the Windows DLL's instruction set
# (through qemu-i386 where this machine cannot start i386 programs).
scripts/install-deps.sh "${I686_PACKAGES[@]}"
cmake --preset linux-i686 >/dev/null
cmake --build --preset linux-i686
ctest --preset linux-i686
