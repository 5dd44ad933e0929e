#!/usr/bin/env bash
# Counts the instructions the brevlo command executes converting each
# benchmark image, built for x86-64 and for 32-bit x86, and prints the 32-bit
# count over the 64-bit count: the measure of the 32-bit build (the Windows
# DLL's instruction set) where this machine cannot time i386 code.
#
# x86-64: valgrind's callgrind. i386: qemu-i386-static, whose log lists each
# translated block's instructions once (in_asm) and names every block it runs
# (exec, with blocks unchained so that every run is logged); the sum over the
# runs is the count. Both count the whole process, from its first instruction.
#
# Builds as scripts/bench.sh does (which also checks that both builds write
# the same files as giflib) and uses its images. Takes several minutes: the
# photograph alone is some 250 million instructions, each block run logged
# under qemu.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
scripts/install-deps.sh "${COUNT_PACKAGES[@]}"

build64=build/release
build32=build/release-i686
images="$build64/bench-images"
scripts/bench.sh --check-only >/dev/null

# Instructions of one run of the 64-bit command.
count64() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$build64/tools/brevlo" "$@" 2>&1 |
    sed -n 's/.*Collected : //p'
}

# Instructions of one run of the 32-bit command, under qemu.
count32() {
  qemu-i386-static -d in_asm,exec,nochain -D /dev/stdout "$build32/tools/brevlo" "$@" | awk '
    /^IN:/ { listing = 1; n = 0; next }
    listing && /^0x/ { n++; next }
    listing { listing = 0; pending = n }
    /^Trace / {
      block = substr($0, index($0, "["))
      if (pending != "") { size[block] = pending; pending = "" }
      total += size[block]
    }
    END { printf "%d\n", total }'
}

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "| image | x86-64 instructions | i386 instructions | i386 / x86-64 |"
echo "|---|--:|--:|--:|"
for image in photo photo-interlaced logo plasma; do
  args=(-q -f -j 1 -o "$out/$image.bmp" "$images/$image.gif")
  n64=$(count64 "${args[@]}")
  n32=$(count32 "${args[@]}")
  awk -v name="$image" -v a="$n64" -v b="$n32" \
    'BEGIN { printf "| %s | %d | %d | %.3f |\n", name, a, b, b / a }'
done
