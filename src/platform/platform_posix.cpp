// File and memory operations on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace brevlo::platform {

namespace {
constexpr mode_t kNewFileMode = 0666;  // narrowed by the process umask

// Fault injection state: obtains counted down to a chosen failure, and the
// blocks handed out and given back.
std::atomic<std::uint64_t> obtains_until_failure{0};
std::atomic<std::uint64_t> blocks_obtained{0};
std::atomic<std::uint64_t> blocks_released{0};
std::atomic<std::uint64_t> obtains_refused{0};

// True when this obtain is the one chosen to fail. Only the call that moves
// the countdown from 1 to 0 fails; once at 0 it stays there.
bool obtain_chosen_to_fail() {
  std::uint64_t left = obtains_until_failure.load(std::memory_order_relaxed);
  while (left != 0) {
    if (obtains_until_failure.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
      return left == 1;
  }
  return false;
}
}  // namespace

FileHandle open_for_reading(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  // Directories open for reading on POSIX but are not files to convert.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

FileHandle create_for_writing(const char* path) {
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
  return fd < 0 ? kNoFile : fd;
}

bool names_same_file(const char* first, const char* second) {
  struct stat a {};
  struct stat b {};
  if (::stat(first, &a) != 0 || ::stat(second, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void delete_regular_file(const char* path) {
  struct stat info {};
  if (::stat(path, &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path);
}

std::int64_t read(FileHandle file, void* destination, std::uint32_t count) {
  for (;;) {
    ssize_t got = ::read(static_cast<int>(file), destination, count);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool write(FileHandle file, const void* source, std::size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(source);
  while (count > 0) {
    ssize_t put = ::write(static_cast<int>(file), bytes, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    count -= static_cast<std::size_t>(put);
  }
  return true;
}

bool seek(FileHandle file, std::uint64_t offset) {
  return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

void close(FileHandle file) {
  ::close(static_cast<int>(file));
}

void* obtain(std::size_t size, bool zero_filled) {
  if (obtain_chosen_to_fail()) {
    obtains_refused.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  void* block = zero_filled ? std::calloc(1, size) : std::malloc(size);
  if (block != nullptr) blocks_obtained.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void release(void* block) {
  if (block != nullptr) blocks_released.fetch_add(1, std::memory_order_relaxed);
  std::free(block);
}

namespace fault_injection {

void fail_obtain_number(std::uint64_t n) {
  blocks_obtained.store(0, std::memory_order_relaxed);
  blocks_released.store(0, std::memory_order_relaxed);
  obtains_refused.store(0, std::memory_order_relaxed);
  obtains_until_failure.store(n, std::memory_order_relaxed);
}

MemoryCounts memory_counts() {
  return {blocks_obtained.load(std::memory_order_relaxed),
          blocks_released.load(std::memory_order_relaxed),
          obtains_refused.load(std::memory_order_relaxed)};
}

}  // namespace fault_injection

}  // namespace brevlo::platform
