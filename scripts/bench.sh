#!/usr/bin/env bash
# Installs what is missing, builds the library, the command and the benchmark
# twice, for 64-bit and for 32-bit x86, and runs both: brevlo against giflib of
# the same bitness on three images, the brevlo command's peak memory (and, in
# the 64-bit build, its memory and time per name over batches of 100,000 and
# 1,000,000 names), and the 32-bit time over the 64-bit time per image. Where
# this machine starts 32-bit programs only through an emulator (or not at
# all), the 32-bit build is only checked for identical output and no 32-bit
# times are shown.
# Extra arguments go to the benchmark (for example --rounds 9).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" "${I686_PACKAGES[@]}"

build64=build/release
build32=build/release-i686
cmake --preset release -DBREVLO_BUILD_TESTS=OFF -DBREVLO_BUILD_BENCH=ON >/dev/null
cmake --build --preset release >/dev/null
cmake -S . -B "$build32" --no-warn-unused-cli --toolchain cmake/linux-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -UBREVLO_I686_RUNS_DIRECTLY \
  -DBREVLO_BUILD_TESTS=OFF -DBREVLO_BUILD_BENCH=ON >/dev/null
cmake --build "$build32" -j2 >/dev/null

# True when i386 programs run on the processor itself: they start without an
# emulator named by the build, and no binfmt_misc entry hands them to qemu.
runs_i386_natively() {
  grep -q '^BREVLO_I686_RUNS_DIRECTLY:BOOL=ON' "$build32/CMakeCache.txt" || return 1
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [[ "$(head -n1 "$entry" 2>/dev/null)" == enabled ]] &&
      grep -q '^interpreter .*qemu-i386' "$entry" && return 1
  done
  return 0
}

# Per image, brevlo's time in the first benchmark output, in the second, and
# the second over the first.
time_ratios() {
  awk -F'|' '$3 ~ /[0-9]+x[0-9]+/ {
      name = $2; gsub(/^ +| +$/, "", name)
      if (FNR == NR) { first[name] = $5; next }
      printf "| %s | %.2f | %.2f | %.2f |\n", name, first[name], $5, $5 / first[name]
    }' <(echo "$1") <(echo "$2")
}

images="$build64/bench-images"
echo "## 64-bit x86"
# Batches of many names (the command's memory per name) once, in the 64-bit
# build: they take a minute and a gigabyte of /dev/shm for a moment.
out64=$("$build64/bench/brevlo_bench" --cache "$images" --names 100000,1000000 "$@")
echo "$out64"
echo
echo "## 32-bit x86"
if ! runs_i386_natively; then
  echo "This machine runs 32-bit x86 programs only under emulation (qemu-i386), so"
  echo "no 32-bit times are measured here; the 32-bit build is checked for output only."
  emulator=$(sed -n 's/^BREVLO_QEMU_I386:FILEPATH=//p' "$build32/CMakeCache.txt")
  ${emulator:+"$emulator"} "$build32/bench/brevlo_bench" --cache "$images" --check-only
  exit 0
fi
out32=$("$build32/bench/brevlo_bench" --cache "$images" "$@")
echo "$out32"
echo
echo "| image | 64-bit brevlo | 32-bit brevlo | 32-bit / 64-bit |"
echo "|---|--:|--:|--:|"
time_ratios "$out64" "$out32"
