#!/usr/bin/env bash
# Installs what is missing, builds (the Windows DLL first, with MinGW), and runs
# every test, the DLL's under Wine among them.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686

cmake --preset debug >/dev/null
cmake --build --preset debug
ctest --preset debug
