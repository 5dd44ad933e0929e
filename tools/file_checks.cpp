#include "file_checks.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brevlo::cli {

namespace {

using platform::FileKind;

bool is_closed(int fd) {
  return ::fcntl(fd, F_GETFD) < 0 && errno == EBADF;
}

// Opens /dev/null (or, without one, the root folder) as descriptor fd, the
// lowest one free.
void occupy(int fd, int access) {
  int opened = ::open("/dev/null", access | O_CLOEXEC);
  if (opened < 0) opened = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (opened >= 0 && opened != fd) {
    ::dup2(opened, fd);
    ::close(opened);
  }
}

}  // namespace

const char* kind_of_file(FileKind kind) {
  switch (kind) {
    case FileKind::kPipe:
      return "a pipe";
    case FileKind::kCharacterDevice:
    case FileKind::kBlockDevice:
      return "a device";
    case FileKind::kSocket:
      return "a socket";
    case FileKind::kFolder:
      return "a folder";
    default:
      return "not a regular file";
  }
}

bool is_stream(FileKind kind) {
  return kind == FileKind::kCharacterDevice || kind == FileKind::kPipe || kind == FileKind::kSocket;
}

StandardStreams occupy_standard_descriptors() {
  StandardStreams closed;
  closed.input_closed = is_closed(STDIN_FILENO);
  if (closed.input_closed) occupy(STDIN_FILENO, O_WRONLY);
  closed.output_closed = is_closed(STDOUT_FILENO);
  if (closed.output_closed) occupy(STDOUT_FILENO, O_RDONLY);
  if (is_closed(STDERR_FILENO)) occupy(STDERR_FILENO, O_RDONLY);
  return closed;
}

NewFileDefaults read_new_file_defaults() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return {::geteuid(), ::getegid(), platform::kNewFilePermissions & ~mask};
}

bool stderr_is_terminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

bool stdout_is_terminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

bool is_out_of_open_files(int error) {
  return error == EMFILE || error == ENFILE;
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
