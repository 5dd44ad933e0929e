#!/usr/bin/env bash
# Checks brevlo32.dll or brevlo64.dll as Windows sees it, from objdump's
# reading of its PE headers: a DLL for the given processor (i386: PE32, x86-64:
# PE32+) exporting exactly BREVLO32 at ordinal 1 and BREVLOInfo at ordinal 2,
# importing from KERNEL32.dll and msvcrt.dll only. Given brevlo.exe too, checks
# that it is a console program for the same processor that needs no other
# DLLs either.
#
#   check_dll_layout.sh OBJDUMP DLL i386|x86-64 [EXE]
set -euo pipefail
objdump=$1
dll=$2
machine=$3
exe=${4:-}
case "$machine" in
i386) magic=010b ;;
x86-64) magic=020b ;;
*)
  echo "unknown processor: $machine (i386 or x86-64)" >&2
  exit 2
  ;;
esac
dump=$("$objdump" -p "$dll")

failures=0
expect() {  # what, actual, expected
  if [[ "$2" == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAILED: $1"
    echo "  expected: $3"
    echo "  actual:   $2"
    failures=$((failures + 1))
  fi
}

characteristics=$(awk '$1 == "Characteristics" { print $2; exit }' <<<"$dump")
expect "file format" "$(grep -o -m1 'file format .*' <<<"$dump")" "file format pei-$machine"
expect "optional header magic" "$(awk '$1 == "Magic" { print $2; exit }' <<<"$dump")" "$magic"
expect "DLL flag" "$(( characteristics & 0x2000 ))" "$(( 0x2000 ))"

# The name table lists each name after its ordinal less the ordinal base.
exports=$(awk '
  /^Ordinal Base/ { base = $3 }
  /^\[Ordinal\/Name Pointer\] Table/ { in_names = 1; next }
  in_names && NF == 0 { in_names = 0 }
  in_names { gsub(/[\[\]]/, " "); print $1 + base, $2 }' <<<"$dump" | sort -n | paste -sd,)
expect "exports by ordinal" "$exports" "1 BREVLO32,2 BREVLOInfo"
expect "export address table entries" \
  "$(awk '/Export Address Table -- Ordinal Base/ { counting = 1; next }
          counting && /Export RVA/ { n++ } counting && NF == 0 { counting = 0 }
          END { print n + 0 }' <<<"$dump")" "2"

imported_dlls() { awk '/DLL Name:/ { print $3 }' <<<"$1" | sort -f | paste -sd,; }
expect "imported DLLs" "$(imported_dlls "$dump")" "KERNEL32.dll,msvcrt.dll"

if [[ -n "$exe" ]]; then
  dump=$("$objdump" -p "$exe")
  expect "brevlo.exe: file format" "$(grep -o -m1 'file format .*' <<<"$dump")" \
    "file format pei-$machine"
  expect "brevlo.exe: subsystem" "$(awk '$1 == "Subsystem" { print $2; exit }' <<<"$dump")" \
    "00000003"
  expect "brevlo.exe: imported DLLs" "$(imported_dlls "$dump")" "KERNEL32.dll,msvcrt.dll"
fi

[[ $failures -eq 0 ]]
