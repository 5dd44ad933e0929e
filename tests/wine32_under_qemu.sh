#!/usr/bin/env bash
# Runs a command in which i386 programs start through qemu-i386-static, for
# 32-bit Wine on a kernel that cannot run i386 code itself.
#
#   wine32_under_qemu.sh PRELOAD.so COMMAND [ARGUMENT ...]
#
# Why this way: such a kernel refuses i386 programs, and nothing may be changed
# for the rest of the machine. Since Linux 6.7 each user namespace can mount a
# binfmt_misc of its own, so the command runs in new user, mount and PID
# namespaces where qemu-i386-static is registered for i386 ELF programs (flag
# F: the emulator is opened now, so Wine's programs find it from anywhere).
# Nothing is registered outside, and every process started inside (Wine's
# server and background programs included) ends when the command does.
#
# qemu is given a 3 GiB guest address space, and PRELOAD.so (built from
# qemu_mmap_noreplace.c) is loaded into the emulated programs only, through
# qemu's QEMU_SET_ENV: without it every Wine process spends about a minute of
# CPU reserving memory. Native programs started inside (the 64-bit wineserver)
# inherit the variable and warn that the library has the wrong ELF class.
#
# Exits 77 (a skipped test) with the reason when this route cannot work here.
set -euo pipefail
readonly skipped=77
readonly guest_address_limit=0xc0000000
# i386 ELF executables and position-independent executables, as qemu's own
# binfmt configuration describes them.
readonly i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
readonly i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
readonly binfmt=/proc/sys/fs/binfmt_misc

skip() {
  echo "skipped: $*"
  exit "$skipped"
}

# Inside the namespaces: register the emulator, then become the command.
if [[ "${1:-}" == --inside ]]; then
  qemu=$2
  preload=$3
  shift 3
  mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    skip "binfmt_misc cannot be mounted in a user namespace (it can since Linux 6.7)"
  printf ':brevlo-i386:M::%s:%s:%s:F' "$i386_magic" "$i386_mask" "$qemu" >"$binfmt/register" ||
    skip "qemu-i386-static cannot be registered in a private binfmt_misc"
  export QEMU_RESERVED_VA=$guest_address_limit
  export QEMU_SET_ENV=LD_PRELOAD=$preload
  export BREVLO_I386_UNDER_QEMU=1
  # qemu reports each crash of an emulated program as a dumped core; keep
  # those files from the test's folder.
  ulimit -c 0
  exec "$@"
fi

preload=${1:-}
shift $(($# > 0))
[[ -n "$preload" && -f "$preload" ]] ||
  skip "the i386 library $(basename "${preload:-qemu_mmap_noreplace.so}") is not built (no gcc -m32)"
[[ "$preload" != *,* ]] || skip "the path of $preload holds a comma, which QEMU_SET_ENV cannot carry"
command -v unshare >/dev/null || skip "unshare is missing (util-linux)"
qemu=$(command -v qemu-i386-static) || skip "qemu-i386-static is missing (qemu-user-static)"
namespaces=(unshare --user --map-root-user --mount --pid --mount-proc --fork --kill-child)
"${namespaces[@]}" true 2>/dev/null || skip "user namespaces are not available to this user"
exec "${namespaces[@]}" "$0" --inside "$qemu" "$preload" "$@"
