#!/usr/bin/env bash
# Installs what is missing, builds the library, the command and the benchmark
# twice, for 64-bit and for 32-bit x86, and runs both: brevlo against giflib of
# the same bitness on three images, the brevlo command's peak memory, and the
# 32-bit time over the 64-bit time per image. Where this machine starts 32-bit
# programs itself, it also times brevlo32.dll as a Windows host calls it, under
# 32-bit Wine (the best of as many conversions of each image as the benchmark
# makes), beside the 32-bit Linux library. Where this machine starts 32-bit
# programs only through an emulator (or not at all), the 32-bit build is only
# checked for identical output and no 32-bit times are shown.
# Extra arguments go to the benchmark (for example --rounds 9).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}" "${I686_PACKAGES[@]}" \
  "${WINDOWS_PACKAGES[@]}"

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

# The number of conversions the benchmark makes of each image: its --rounds.
rounds=7
arguments=("$@")
for ((i = 0; i + 1 < ${#arguments[@]}; i++)); do
  [[ "${arguments[i]}" == --rounds ]] && rounds=${arguments[i + 1]}
done

# Per image, brevlo's time in the 64-bit benchmark output, in the 32-bit one,
# the second over the first, then the DLL's time (lines "name<TAB>time" in the
# third argument) and its time over the 32-bit Linux library's, or "-".
time_ratios() {
  awk -F'|' '
    FILENAME == ARGV[1] { split($0, dll, "\t"); dll_time[dll[1]] = dll[2]; next }
    $3 ~ /[0-9]+x[0-9]+/ {
      name = $2; gsub(/^ +| +$/, "", name)
      if (FILENAME == ARGV[2]) { first[name] = $5; next }
      line = sprintf("| %s | %.2f | %.2f | %.2f |", name, first[name], $5, $5 / first[name])
      if (name in dll_time) {
        line = line sprintf(" %.2f | %.2f |", dll_time[name], dll_time[name] / $5)
      } else {
        line = line " - | - |"
      }
      print line
    }' <(echo "$3") <(echo "$1") <(echo "$2")
}

# Times brevlo32.dll under 32-bit Wine on the images BREVLO32 converts, and
# checks that each BMP it writes is the one the 32-bit command writes. Prints
# "name<TAB>ns per pixel" per image; says why on standard error and prints
# nothing when the DLL cannot be built or timed.
time_dll() {
  local build=build/mingw-i686 work="$build32/dll-bench"
  if ! cmake --preset mingw-i686 -DBREVLO_BUILD_BENCH=ON >/dev/null ||
    ! cmake --build --preset mingw-i686 >/dev/null; then
    echo "brevlo32.dll and its timing host do not build here (MinGW-w64)" >&2
    return 0
  fi
  local names=() gifs=()
  while IFS=$'\t' read -r name gif; do
    names+=("$name")
    gifs+=("$gif")
  done < <("$build32/bench/brevlo_bench" --cache "$PWD/$images" --list-images)
  rm -rf "$work"
  mkdir -p "$work"
  local said
  if ! said=$(tests/run_under_wine.sh win32 "$PWD/$build32/wine-prefix-win32" \
    "$build/bench/brevlo_dll_bench.exe" "$PWD/$build/brevlo32.dll" "$rounds" "$PWD/$work" \
    "${gifs[@]}" 2>&1); then
    echo "brevlo32.dll could not be timed under 32-bit Wine:" >&2
    echo "$said" >&2
    return 0
  fi
  # Windows programs end their lines with CR LF.
  local times
  mapfile -t times < <(echo "$said" | tr -d '\r' | sed -n 's/.*: \([0-9.]*\) ns per pixel$/\1/p')
  if ((${#times[@]} != ${#names[@]})); then
    echo "brevlo32.dll's timing host said:" >&2
    echo "$said" >&2
    return 0
  fi
  local table=
  for ((i = 0; i < ${#names[@]}; i++)); do
    "$build32/tools/brevlo" --strict -q -f "${gifs[i]}" "$work/command.bmp"
    if ! cmp -s "$work/$((i + 1)).bmp" "$work/command.bmp"; then
      echo "brevlo32.dll wrote another BMP than the 32-bit command for ${gifs[i]}" >&2
      return 0
    fi
    table+=$(printf '%s\t%s' "${names[i]}" "${times[i]}")$'\n'
  done
  rm -rf "$work"
  printf '%s' "$table"
}

images="$build64/bench-images"
echo "## 64-bit x86"
out64=$("$build64/bench/brevlo_bench" --cache "$images" "$@")
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
echo "## brevlo32.dll under 32-bit Wine, after the 32-bit library"
dll=$(time_dll)
echo "brevlo32.dll called by a Windows host program, best of $rounds conversions of each image;"
echo "ns per pixel (the interlaced photograph is refused by BREVLO32)"
echo
echo "| image | 64-bit brevlo | 32-bit brevlo | 32-bit / 64-bit | brevlo32.dll | DLL / 32-bit |"
echo "|---|--:|--:|--:|--:|--:|"
time_ratios "$out64" "$out32" "$dll"
