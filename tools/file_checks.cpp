#include "file_checks.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace brevlo::cli {

FileIdentity identify(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {true, S_ISDIR(info.st_mode), S_ISREG(info.st_mode),
          static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

int check_readable(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat info {};
  int error = ::fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
  ::close(fd);
  return error;
}

int reserve_new_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

std::string temporary_name_beside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".brevlo-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

int move_into_place(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void remove_file(const std::string& path) {
  ::unlink(path.c_str());
}

bool starts_like_gif(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::array<char, 6> head{};
  ssize_t got = ::read(fd, head.data(), head.size());
  ::close(fd);
  return got == static_cast<ssize_t>(head.size()) && head[0] == 'G' && head[1] == 'I' &&
         head[2] == 'F' && head[3] == '8' && head[5] == 'a';
}

bool stderr_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

unsigned processor_count() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
    return static_cast<unsigned>(CPU_COUNT(&allowed));
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace brevlo::cli
