// Preloaded into 32-bit Wine's processes when they run under qemu-i386 (see
// wine32_under_qemu.sh), never into native ones.
//
// Why: Wine reserves its address space by probing fixed addresses with
// MAP_FIXED_NOREPLACE, stepping on when one is taken. qemu-i386 7.2 treats
// that flag as a mere hint and, for each probe, searches for free guest memory
// page by page, so a Wine process spends about a minute of CPU starting. This
// library answers the probes the way the kernel does, at once: a request that
// reaches past the guest address space (capped by QEMU_RESERVED_VA) fails with
// ENOMEM, and one that qemu places anywhere but where asked is undone and fails
// with EEXIST. Every other request goes to the system unchanged.
//
// Built with gcc -m32 -shared -fPIC -D_GNU_SOURCE; i386 only.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

enum { kPageShift = 12, kPageMask = (1 << kPageShift) - 1 };

// The end of the guest address space qemu was given, or 0 when unlimited.
static uintptr_t guest_address_limit(void) {
  const char* text = getenv("QEMU_RESERVED_VA");
  return text ? (uintptr_t)strtoull(text, NULL, 0) : 0;
}

// The system call glibc's mmap makes on i386: the offset counts pages.
static void* map_pages(void* address, size_t length, int protection, int flags, int fd,
                       int64_t offset) {
  if ((offset & kPageMask) != 0) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the system call returns the address as a long.
  return (void*)syscall(SYS_mmap2, address, length, protection, flags, fd,
                        (unsigned long)(offset >> kPageShift));
}

static int beyond_limit(const void* address, size_t length) {
  uintptr_t limit = guest_address_limit();
  uintptr_t start = (uintptr_t)address;
  return limit != 0 && (start >= limit || length > limit - start);
}

static void* map(void* address, size_t length, int protection, int flags, int fd, int64_t offset) {
  if ((flags & MAP_FIXED_NOREPLACE) == 0)
    return map_pages(address, length, protection, flags, fd, offset);
  if (beyond_limit(address, length)) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  void* placed = map_pages(address, length, protection, flags, fd, offset);
  if (placed != MAP_FAILED && placed != address) {
    munmap(placed, length);
    errno = EEXIST;
    return MAP_FAILED;
  }
  return placed;
}

// The two entry points glibc has on i386, named as in the rest of this file
// rather than as glibc's reserved names.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  return map(address, length, protection, flags, fd, offset);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
void* mmap64(void* address, size_t length, int protection, int flags, int fd, off64_t offset) {
  return map(address, length, protection, flags, fd, offset);
}
