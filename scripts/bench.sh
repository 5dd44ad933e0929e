#!/usr/bin/env bash
# Installs what is missing, builds the release preset and runs the benchmark:
# brevlo against giflib on three images, and the brevlo command's peak memory.
# Extra arguments go to the benchmark (for example --rounds 9).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
cmake --preset release -DBREVLO_BUILD_TESTS=OFF -DBREVLO_BUILD_BENCH=ON >/dev/null
cmake --build --preset release >/dev/null
./build/release/bench/brevlo_bench "$@"
