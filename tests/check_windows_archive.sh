#!/usr/bin/env bash
# Makes the ZIP archive of a MinGW build folder with cpack and tries it as a
# Windows user would: it must hold exactly the DLL, brevlo.exe (both byte for
# byte the ones built), the header, both import libraries and the .def file,
# the CMake and pkg-config files, and README.txt and LICENSE.txt with Windows
# line ends (CR LF). Then host programs are built against the unpacked
# archive: examples/consumer with MinGW-w64 (by hand and through the CMake
# package) and tests/msvc_host as MSVC builds programs (clang-cl and lld-link,
# through the CMake package, which must give it the MSVC import library).
# With a Wine runner, each host and the archive's brevlo.exe then convert the
# sample under Wine, and must write the BMP the Linux command writes.
#
#   check_windows_archive.sh BUILD_DIR DLL WORK_DIR SOURCE_DIR MINGW_TRIPLET LINUX_COMMAND \
#     [RUN_UNDER_WINE [--qemu-preload LIBRARY] ARCH PREFIX]
set -euo pipefail
build=$1
dll=$2
work=$3
source=$4
triplet=$5
linux_command=$6
shift 6
runner=("$@")
name=${dll%.dll}
sample=$source/examples/sample.gif
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
LICENSE.txt
README.txt
bin/brevlo.exe
bin/NAME.dll
include/brevlo.h
lib/NAME.def
lib/NAME.lib
lib/cmake/brevlo/brevloConfig.cmake
lib/cmake/brevlo/brevloConfigVersion.cmake
lib/cmake/brevlo/brevloTargets-release.cmake
lib/cmake/brevlo/brevloTargets.cmake
lib/libNAME.dll.a
lib/pkgconfig/brevlo.pc
LIST
diff "$work/expected.txt" "$work/files.txt"

python3 -m zipfile -e "$archive" "$work"
root=$work/$top
cmp "$root/bin/$dll" "$build/$dll"
cmp "$root/bin/brevlo.exe" "$build/tools/brevlo.exe"
python3 - "$root" "$name" <<'PYTHON'
import re, sys
root, name = sys.argv[1:]
for text in ("README.txt", "LICENSE.txt"):
    data = open(f"{root}/{text}", "rb").read()
    if data.count(b"\n") != data.count(b"\r\n") or not data.endswith(b"\r\n"):
        sys.exit(f"{text} has lines that do not end in CR LF")
readme = open(f"{root}/README.txt", encoding="utf-8").read()
if re.search(r"@[A-Z_]+@", readme) or f"{name}.dll" not in readme:
    sys.exit(f"README.txt is not filled in for {name}.dll")
PYTHON

# MinGW-w64: by hand, and through the CMake package (which names libNAME.dll.a;
# named by its folder, as the cross toolchain looks for packages in its own
# sysroot alone).
"$triplet-gcc" -std=c99 -Wall -Wextra -Werror -I"$root/include" "$source/examples/consumer/main.c" \
  -L"$root/lib" -l"$name" -o "$work/consumer.exe"
toolchain=$source/cmake/mingw-${triplet%%-*}.cmake
cmake -S "$source/examples/consumer" -B "$work/mingw-cmake" --toolchain "$toolchain" \
  -Dbrevlo_DIR="$root/lib/cmake/brevlo" -DCMAKE_BUILD_TYPE=Release >"$work/mingw-cmake.log"
cmake --build "$work/mingw-cmake" >>"$work/mingw-cmake.log"

# MSVC's way, through the CMake package (which must name NAME.lib).
msvc_target=x86_64-pc-windows-msvc
[[ "$triplet" == i686-* ]] && msvc_target=i686-pc-windows-msvc
cmake -S "$source/tests/msvc_host" -B "$work/msvc-cmake" \
  --toolchain "$source/tests/msvc_host/clang-cl.cmake" -DBREVLO_MSVC_TARGET=$msvc_target \
  -DCMAKE_PREFIX_PATH="$root" >"$work/msvc-cmake.log"
cmake --build "$work/msvc-cmake" >>"$work/msvc-cmake.log"
echo "ok: $top.zip holds $dll, brevlo.exe and their files, and host programs build against them"
((${#runner[@]} > 0)) || exit 0

# Under Wine: each program converts the sample, with the DLL beside it.
"$linux_command" --strict -o "$work/expected.bmp" "$sample"
for host in mingw-cmake msvc-cmake; do cp "$root/bin/$dll" "$work/$host/"; done
"${runner[@]}" "$work/mingw-cmake/consumer.exe" "$sample" "$work/mingw.bmp" >"$work/mingw-run.log"
cmp "$work/expected.bmp" "$work/mingw.bmp"
mkdir "$work/msvc-run"
cp "$sample" "$work/msvc-run/in.gif"
(cd "$work/msvc-run" && "${runner[@]}" "$work/msvc-cmake/msvc_host.exe" >"$work/msvc-run.log")
cmp "$work/expected.bmp" "$work/msvc-run/out.bmp"
"${runner[@]}" "$root/bin/brevlo.exe" -o "$work/command.bmp" "$sample" >"$work/command-run.log"
cmp "$work/expected.bmp" "$work/command.bmp"
echo "ok: under Wine, both hosts and brevlo.exe write the BMP the Linux command writes"
