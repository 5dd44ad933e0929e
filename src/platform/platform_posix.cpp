// File and memory operations on POSIX systems.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/command_platform.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace brevlo::platform {

namespace seams = fault_injection;

namespace {
// Opens without waiting for the other end of a FIFO; anything that is not a
// regular file stays non-blocking, so that a read or write never waits either
// and fails instead. O_NONBLOCK has no effect on a regular file's reads and
// writes, so it is not taken back there.
int open_without_waiting(const char* path, int flags) {
  return ::open(path, flags | O_NONBLOCK | O_CLOEXEC, kNewFilePermissions);
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

// A refused call of the test seams fails as the system would, with a number.
bool refused(bool refuse, int error) {
  if (refuse) errno = error;
  return refuse;
}

constexpr mode_t kPermissionBits = 07777;

FileKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kFolder;
  if (S_ISLNK(mode)) return FileKind::kLink;
  if (S_ISFIFO(mode)) return FileKind::kPipe;
  if (S_ISCHR(mode)) return FileKind::kCharacterDevice;
  if (S_ISBLK(mode)) return FileKind::kBlockDevice;
  if (S_ISSOCK(mode)) return FileKind::kSocket;
  return FileKind::kUnknown;
}

FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino),
          S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0,
          true,
          kind_of(info.st_mode),
          static_cast<std::uint32_t>(info.st_mode & kPermissionBits),
          static_cast<std::uint32_t>(info.st_uid),
          static_cast<std::uint32_t>(info.st_gid)};
}
}  // namespace

FileHandle open_for_reading(const char* path, FileIdentity* identity) {
  const int fd = open_without_waiting(path, O_RDONLY);
  if (fd < 0) return kNoFile;
  // Directories open for reading on POSIX but are not files to convert.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    errno = error;
    return kNoFile;
  }
  if (identity != nullptr) *identity = identity_of(info);
  return fd;
}

FileHandle open_for_writing(const char* path) {
  seams::run_before_output_open(path);
  const int fd = open_without_waiting(path, O_WRONLY | O_CREAT);
  return fd < 0 ? kNoFile : fd;
}

FileHandle reopen_for_writing(const char* path) {
  const int fd = open_without_waiting(path, O_WRONLY);
  return fd < 0 ? kNoFile : fd;
}

FileIdentity identify(FileHandle file) {
  struct stat info {};
  return ::fstat(static_cast<int>(file), &info) == 0 ? identity_of(info) : FileIdentity{};
}

FileIdentity identify_path(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 ? identity_of(info) : FileIdentity{};
}

// Declared with the command's operations; remove_written below needs it too.
FileIdentity identify_name(const char* path) {
  struct stat info {};
  return ::lstat(path, &info) == 0 ? identity_of(info) : FileIdentity{};
}

bool truncate(FileHandle file) {
  return ::ftruncate(static_cast<int>(file), 0) == 0;
}

void remove_written(const FileIdentity& written, const char* path) {
  if (!is_regular(written)) return;
  // The name itself: a symbolic link is a file of its own, never the one written.
  const FileIdentity found = identify_name(path);
  if (is_regular(found) && same_file(found, written)) ::unlink(path);
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
  if (refused(seams::refuse_seek(), ESPIPE)) return false;
  return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool write_at(FileHandle file, std::uint64_t offset, const void* source, std::size_t count) {
  // A positioned write stands for a seek, so a refused seek refuses it too.
  if (refused(seams::refuse_seek(), ESPIPE)) return false;
  const auto start = static_cast<off_t>(offset);
  return write_all(source, count,
                   [file, start](const unsigned char* bytes, std::size_t left, off_t done) {
                     return ::pwrite(static_cast<int>(file), bytes, left, start + done);
                   });
}

bool may_grow_to(FileHandle file, std::uint64_t size) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      size <= limit.rlim_cur)
    return true;
  // The limit holds for regular files only; a device or pipe takes any size.
  if (!is_regular(identify(file))) return true;
  errno = EFBIG;
  return false;
}

bool close(FileHandle file) {
  // Linux releases the descriptor even when close reports an error, so it is
  // never retried, not even after EINTR.
  const bool closed = ::close(static_cast<int>(file)) == 0;
  return !refused(seams::refuse_close(), EIO) && closed;
}

void* obtain(std::size_t size, bool zero_filled) {
  if (refused(seams::refuse_obtain(), ENOMEM)) return nullptr;
  void* block = zero_filled ? std::calloc(1, size) : std::malloc(size);
  if (block != nullptr) seams::count_obtained();
  return block;
}

void release(void* block) {
  if (block != nullptr) seams::count_released();
  std::free(block);
}

int last_error() {
  return errno;
}

}  // namespace brevlo::platform
