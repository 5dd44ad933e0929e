// File and memory operations on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace brevlo::platform {

namespace {
constexpr mode_t kNewFileMode = 0666;  // narrowed by the process umask

// Fault injection state: for working memory, closes and seeks, the count of
// calls left until a chosen one fails; and the blocks handed out and given back.
std::atomic<std::uint64_t> obtains_until_failure{0};
std::atomic<std::uint64_t> closes_until_failure{0};
std::atomic<std::uint64_t> seeks_until_failure{0};
std::atomic<std::uint64_t> blocks_obtained{0};
std::atomic<std::uint64_t> blocks_released{0};
std::atomic<std::uint64_t> obtains_refused{0};

// True when this call is the one chosen to fail. Only the call that moves the
// countdown from 1 to 0 fails; once at 0 it stays there.
bool chosen_to_fail(std::atomic<std::uint64_t>& calls_until_failure) {
  std::uint64_t left = calls_until_failure.load(std::memory_order_relaxed);
  while (left != 0) {
    if (calls_until_failure.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
      return left == 1;
  }
  return false;
}

// Opens without waiting for the other end of a FIFO. Regular files go back to
// ordinary blocking I/O; anything else stays non-blocking, so that a read or
// write never waits either and fails instead. Fills info with what was opened.
int open_without_waiting(const char* path, int flags, struct stat& info) {
  const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
  if (fd < 0) return -1;
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return -1;
  }
  if (S_ISREG(info.st_mode)) {
    const int status = ::fcntl(fd, F_GETFL);
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

// Hands count bytes to put(bytes, left, done) until all are written, again
// after an interrupted call; done counts the bytes already written.
template <typename Put>
bool write_all(const void* source, std::size_t count, Put put) {
  const auto* bytes = static_cast<const unsigned char*>(source);
  off_t done = 0;
  while (count > 0) {
    const ssize_t put_now = put(bytes, count, done);
    if (put_now < 0 && errno == EINTR) continue;
    if (put_now <= 0) return false;
    bytes += put_now;
    done += put_now;
    count -= static_cast<std::size_t>(put_now);
  }
  return true;
}

FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true,
          S_ISREG(info.st_mode)};
}

// The identity of what path names; links are followed only when asked.
FileIdentity identify_name(const char* path, bool follow_links) {
  struct stat info {};
  const int got = follow_links ? ::stat(path, &info) : ::lstat(path, &info);
  return got == 0 ? identity_of(info) : FileIdentity{};
}

bool is_symbolic_link(const char* path) {
  struct stat info {};
  return ::lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

// Removes the file a symbolic link leads to, then the link, when the link
// still leads to the file written.
void remove_link_and_target(const FileIdentity& written, const char* link) {
  char target[PATH_MAX];
  if (!same_file(identify_path(link), written) || ::realpath(link, target) == nullptr) return;
  if (!same_file(identify_name(target, false), written)) return;
  ::unlink(target);
  ::unlink(link);
}
}  // namespace

FileHandle open_for_reading(const char* path) {
  struct stat info {};
  const int fd = open_without_waiting(path, O_RDONLY, info);
  if (fd < 0) return kNoFile;
  // Directories open for reading on POSIX but are not files to convert.
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

FileHandle create_for_writing(const char* path) {
  struct stat info {};
  const int fd = open_without_waiting(path, O_WRONLY | O_CREAT | O_TRUNC, info);
  return fd < 0 ? kNoFile : fd;
}

FileHandle reopen_for_writing(const char* path) {
  struct stat info {};
  const int fd = open_without_waiting(path, O_WRONLY, info);
  return fd < 0 ? kNoFile : fd;
}

FileIdentity identify(FileHandle file) {
  struct stat info {};
  return ::fstat(static_cast<int>(file), &info) == 0 ? identity_of(info) : FileIdentity{};
}

FileIdentity identify_path(const char* path) {
  return identify_name(path, true);
}

bool empty(FileHandle file) {
  return ::ftruncate(static_cast<int>(file), 0) == 0;
}

void remove_written(const FileIdentity& written, const char* path) {
  if (!written.regular) return;
  if (is_symbolic_link(path)) {
    remove_link_and_target(written, path);
  } else if (same_file(identify_name(path, false), written)) {
    ::unlink(path);
  }
}

std::int64_t read(FileHandle file, void* destination, std::uint32_t count) {
  for (;;) {
    ssize_t got = ::read(static_cast<int>(file), destination, count);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool write(FileHandle file, const void* source, std::size_t count) {
  return write_all(source, count, [file](const unsigned char* bytes, std::size_t left, off_t) {
    return ::write(static_cast<int>(file), bytes, left);
  });
}

bool seek(FileHandle file, std::uint64_t offset) {
  if (chosen_to_fail(seeks_until_failure)) return false;
  return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool write_at(FileHandle file, std::uint64_t offset, const void* source, std::size_t count) {
  // A positioned write stands for a seek, so a refused seek refuses it too.
  if (chosen_to_fail(seeks_until_failure)) return false;
  const auto start = static_cast<off_t>(offset);
  return write_all(source, count,
                   [file, start](const unsigned char* bytes, std::size_t left, off_t done) {
                     return ::pwrite(static_cast<int>(file), bytes, left, start + done);
                   });
}

bool close(FileHandle file) {
  // Linux releases the descriptor even when close reports an error, so it is
  // never retried, not even after EINTR.
  const bool closed = ::close(static_cast<int>(file)) == 0;
  return !chosen_to_fail(closes_until_failure) && closed;
}

void* obtain(std::size_t size, bool zero_filled) {
  if (chosen_to_fail(obtains_until_failure)) {
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

void fail_close_number(std::uint64_t n) {
  closes_until_failure.store(n, std::memory_order_relaxed);
}

void fail_seek_number(std::uint64_t n) {
  seeks_until_failure.store(n, std::memory_order_relaxed);
}

MemoryCounts memory_counts() {
  return {blocks_obtained.load(std::memory_order_relaxed),
          blocks_released.load(std::memory_order_relaxed),
          obtains_refused.load(std::memory_order_relaxed)};
}

}  // namespace fault_injection

}  // namespace brevlo::platform
