#!/usr/bin/env bash
# Makes the ZIP archive of a MinGW build folder with cpack and checks what it
# holds: the DLL (byte for byte the one built), its import library and .def
# file, the header, the CMake and pkg-config files, README and LICENSE; then
# links the example host program against the unpacked header and import
# library with MinGW-w64.
#
#   check_windows_archive.sh BUILD_DIR DLL WORK_DIR SOURCE_DIR MINGW_TRIPLET
set -euo pipefail
build=$1
dll=$2
work=$3
source=$4
compiler=$5-gcc
name=${dll%.dll}
rm -rf "$work"
mkdir -p "$work"
"${CPACK:-cpack}" -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log"
archives=("$work"/*.zip)
[[ ${#archives[@]} -eq 1 && -f "${archives[0]}" ]] || { echo "cpack made no single archive"; exit 1; }
archive=${archives[0]}
top=$(basename "$archive" .zip)
[[ "$top" == brevlo-*-win${name#brevlo} ]] || { echo "unexpected archive name $top.zip"; exit 1; }

python3 - "$archive" <<'PYTHON' | sed "s|^$top/||" >"$work/files.txt"
import sys, zipfile
for name in sorted(zipfile.ZipFile(sys.argv[1]).namelist()):
    if not name.endswith("/"):
        print(name)
PYTHON
sed "s/NAME/$name/g" >"$work/expected.txt" <<'LIST'
LICENSE
README.md
bin/NAME.dll
include/brevlo.h
lib/NAME.def
lib/cmake/brevlo/brevloConfig.cmake
lib/cmake/brevlo/brevloConfigVersion.cmake
lib/cmake/brevlo/brevloTargets-release.cmake
lib/cmake/brevlo/brevloTargets.cmake
lib/libNAME.dll.a
lib/pkgconfig/brevlo.pc
LIST
diff "$work/expected.txt" "$work/files.txt"

python3 -m zipfile -e "$archive" "$work"
cmp "$work/$top/bin/$dll" "$build/$dll"
"$compiler" -std=c99 -Wall -Wextra -Werror -I"$work/$top/include" "$source/examples/consumer/main.c" \
  -L"$work/$top/lib" -l"$name" -o "$work/consumer.exe"
echo "ok: $top.zip holds $dll and its files, and a host program links against them"
