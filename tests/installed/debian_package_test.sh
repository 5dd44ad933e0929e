#!/bin/sh
# Checks the Debian package cpack makes in a build folder, without installing
# it: debian_package_test.sh CHECK BUILD_DIR SOURCE_DIR WORK_DIR VERSION
#   make     cpack -G DEB into WORK_DIR, then unpacks the package into WORK_DIR/root
#   control  name, fields, control files, changelog, copyright and manual page
#   lintian  no errors and no warnings
# The unpacked tree is then checked like an installed prefix (package_test.sh).
set -eu
check=$1 build=$2 source=$3 work=$4 version=$5
deb="$work/brevlo_${version}_$(dpkg --print-architecture).deb"
root="$work/root"

# Prints the copyright file's licence text as plain text, or the LICENSE's.
copyright_terms() {
  sed -n '/^License:/,$p' "$1" | sed '1d; s/^ //; s/^\.$//'
}
license_terms() {
  sed -n '/^Permission is hereby granted/,$p' "$1"
}

case "$check" in
make)
  rm -rf "$work"
  mkdir -p "$work"
  "${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log"
  [ -f "$deb" ] || { echo "no $deb; cpack made:"; ls "$work"; exit 1; }
  dpkg-deb -x "$deb" "$root"
  ;;
control)
  [ "$(dpkg-deb -f "$deb" Package)" = brevlo ]
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]
  dpkg-deb -f "$deb" Depends | grep -q '^libc6 (>= '
  # A synopsis, then an extended description of several lines.
  [ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 4 ]
  mkdir -p "$work/control"
  dpkg-deb -e "$deb" "$work/control"
  [ "$(ls "$work/control" | paste -sd' ')" = "control md5sums shlibs triggers" ]
  [ "$(cat "$work/control/triggers")" = "activate-noawait ldconfig" ]
  [ "$(cat "$work/control/shlibs")" = "libbrevlo 1 brevlo (>= $version)" ]
  doc="$root/usr/share/doc/brevlo"
  zcat "$doc/changelog.gz" | head -n1 | grep -q "^brevlo ($version) "
  head -n1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
  copyright_terms "$doc/copyright" >"$work/copyright-terms.txt"
  license_terms "$source/LICENSE" | diff - "$work/copyright-terms.txt"
  zcat "$root/usr/share/man/man1/brevlo.1.gz" | cmp - "$source/tools/brevlo.1"
  ;;
lintian)
  lintian --fail-on error,warning "$deb"
  ;;
*)
  echo "unknown check: $check" >&2
  exit 2
  ;;
esac
