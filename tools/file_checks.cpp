#include "file_checks.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

namespace brevlo::cli {

namespace {

// The most links followed on the way to a file, as the kernel allows.
constexpr int kMaxLinks = 40;

}  // namespace

FileIdentity identify(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {true, S_ISDIR(info.st_mode), static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino)};
}

const char* kind_of_file(unsigned file_type) {
  if (S_ISFIFO(file_type)) return "a pipe";
  if (S_ISCHR(file_type) || S_ISBLK(file_type)) return "a device";
  if (S_ISSOCK(file_type)) return "a socket";
  if (S_ISDIR(file_type)) return "a folder";
  return "not a regular file";
}

bool is_stream(unsigned file_type) {
  return S_ISCHR(file_type) || S_ISFIFO(file_type) || S_ISSOCK(file_type);
}

std::string final_target(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path name = path;
  for (int followed = 0; followed < kMaxLinks; ++followed) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(name, error))) break;
    const fs::path target = fs::read_symlink(name, error);
    if (error) break;
    name = target.is_absolute() ? target : name.parent_path() / target;
  }
  return name.string();
}

bool stderr_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

bool stdout_is_terminal() {
  return ::isatty(STDOUT_FILENO) == 1;
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
