#!/bin/sh
# Checks an installed brevlo package:
#   package_test.sh CHECK PREFIX SOURCE_DIR WORK_DIR LIBDIR [SYSROOT]
# LIBDIR is the library folder within the prefix (lib, or lib/x86_64-linux-gnu).
# SYSROOT is given for a tree made for /usr and unpacked elsewhere (the Debian
# package's): PREFIX is SYSROOT/usr, and its pkg-config file names /usr.
#   contents             exactly the files a user should get, with a proper SONAME
#   cmake_consumer       examples/consumer builds with find_package(brevlo) and converts
#   pkg_config_consumer  pkg-config prints the package's own folders, plainly, and
#                        nothing else; examples/consumer builds with it and converts
set -eu
check=$1 prefix=$2 source=$3 work=$4 libdir=$5 sysroot=${6:-}
rm -rf "$work"
mkdir -p "$work"

# The consumer must print the information text, convert the sample, and write
# the same BMP as the installed command does.
run_consumer() {
  "$1" "$source/examples/sample.gif" "$work/consumer.bmp" >"$work/said.txt"
  grep -q '^brevlo is a ' "$work/said.txt"
  "$prefix/bin/brevlo" "$source/examples/sample.gif" "$work/command.bmp"
  cmp "$work/consumer.bmp" "$work/command.bmp"
}

# Prints each flag pkg-config gives for brevlo on a line of its own, as given
# (extra arguments go to pkg-config).
flags() {
  # shellcheck disable=SC2046 # the flags are meant to split into words
  printf '%s\n' $(pkg-config "$@" --cflags --libs brevlo)
}

case "$check" in
contents)
  # Lintian's notes come only with the Debian package, whose lintian check needs them.
  (cd "$prefix" && find . \( -type f -o -type l \) ! -path './share/lintian/*' | sort) >"$work/files.txt"
  cat >"$work/expected.txt" <<'LIST'
./bin/brevlo
./include/brevlo.h
./LIBDIR/cmake/brevlo/brevloConfig.cmake
./LIBDIR/cmake/brevlo/brevloConfigVersion.cmake
./LIBDIR/cmake/brevlo/brevloTargets-CONFIG.cmake
./LIBDIR/cmake/brevlo/brevloTargets.cmake
./LIBDIR/libbrevlo.so
./LIBDIR/libbrevlo.so.1
./LIBDIR/libbrevlo.so.1.0.0
./LIBDIR/pkgconfig/brevlo.pc
./share/doc/brevlo/changelog.gz
./share/doc/brevlo/copyright
./share/man/man1/brevlo.1.gz
LIST
  # The per-configuration targets file is named after the build type.
  sed -i -e "s|^\./$libdir/|./LIBDIR/|" -e 's/brevloTargets-[a-z]*\.cmake/brevloTargets-CONFIG.cmake/' \
    "$work/files.txt"
  diff "$work/expected.txt" "$work/files.txt"
  readelf -d "$prefix/$libdir/libbrevlo.so.1.0.0" | grep -q 'Library soname: \[libbrevlo.so.1\]'
  [ "$(readlink "$prefix/$libdir/libbrevlo.so")" = libbrevlo.so.1 ]
  [ "$(readlink "$prefix/$libdir/libbrevlo.so.1")" = libbrevlo.so.1.0.0 ]
  # The command carries the engine itself: no search path into the prefix.
  ! readelf -d "$prefix/bin/brevlo" | grep -q 'libbrevlo\|RUNPATH\|RPATH'
  ;;
cmake_consumer)
  cmake -S "$source/examples/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/build" >/dev/null
  run_consumer "$work/build/consumer"
  ;;
pkg_config_consumer)
  export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
  [ "$(pkg-config --modversion brevlo)" = 1.0.0 ]
  if [ -n "$sysroot" ]; then
    # Under /usr the folders are the system's, which pkg-config leaves out; the
    # consumer is built against the unpacked tree through pkg-config's sysroot.
    [ "$(flags)" = -lbrevlo ]
    export PKG_CONFIG_SYSROOT_DIR="$sysroot"
  else
    # Elsewhere the file names the prefix, plainly however the install was
    # given it (the tests' install names it relative to the folder it runs in).
    place=$(realpath "$prefix")
    printf '%s\n' "-I$place/include" "-L$place/$libdir" -lbrevlo >"$work/expected.txt"
    flags >"$work/flags.txt"
    diff "$work/expected.txt" "$work/flags.txt"
    # A copy of the prefix moved elsewhere is described from its own place by
    # --define-prefix, which takes the folder two above the file's: a library
    # folder of one level.
    if [ "${libdir#*/}" = "$libdir" ]; then
      cp -a "$prefix" "$work/moved"
      printf '%s\n' "-I$work/moved/include" "-L$work/moved/$libdir" -lbrevlo >"$work/expected.txt"
      PKG_CONFIG_PATH="$work/moved/$libdir/pkgconfig" flags --define-prefix >"$work/flags.txt"
      diff "$work/expected.txt" "$work/flags.txt"
    fi
  fi
  # shellcheck disable=SC2046 # the flags are meant to split into words
  cc -Wall -Wextra -Werror -o "$work/consumer" "$source/examples/consumer/main.c" \
    $(pkg-config --cflags --libs brevlo)
  export LD_LIBRARY_PATH="$prefix/$libdir"
  run_consumer "$work/consumer"
  ;;
*)
  echo "unknown check: $check" >&2
  exit 2
  ;;
esac
