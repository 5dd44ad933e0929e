#!/usr/bin/env bash
# Builds the library and the brevlo command, then converts the bundled sample
# and says what it wrote: the BMP's path, its size in pixels and in bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}"
echo "Configuring the optimised build in build/release"
cmake --preset release -DBREVLO_BUILD_TESTS=OFF >/dev/null
echo "Building the library and the brevlo command (about half a minute the first time)"
cmake --build --preset release
out="$PWD/sample.bmp"
# --force: a sample.bmp from an earlier run is replaced.
./build/release/tools/brevlo --force examples/sample.gif "$out"
# Width and height are the BMP header's 32-bit fields at bytes 18 and 22.
read -r width height < <(od -An -t d4 -j 18 -N 8 "$out")
echo "Converted examples/sample.gif to $out: $width × $height pixels, $(stat -c %s "$out") bytes"
