#!/usr/bin/env bash
# Builds the library and the brevlo command, then converts the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}"
cmake --preset release -DBREVLO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release >/dev/null
out="$PWD/sample.bmp"
# --force: a sample.bmp from an earlier run is replaced.
./build/release/tools/brevlo --force examples/sample.gif "$out"
echo "Converted examples/sample.gif to $out"
