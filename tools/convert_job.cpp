#include "convert_job.h"

#include <brevlo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "engine/gif_parser.h"
#include "file_checks.h"
#include "temporary_files.h"

namespace brevlo::cli {

namespace {

constexpr unsigned kNewFileMode = 0666;  // before the umask, as other tools create files
constexpr unsigned kPermissionBits = 07777;
constexpr std::size_t kCopyChunk = std::size_t{64} * 1024;

Outcome failure(Problem problem, int code, int error_number = 0) {
  Outcome outcome;
  outcome.problem = problem;
  outcome.code = code;
  outcome.error_number = error_number;
  return outcome;
}

// --strict converts exactly as the library's BREVLO32 does.
const ConversionOptions& conversion_of(const Options& options) {
  return options.strict ? kStrictOptions : kBroadOptions;
}

bool succeeded(const Outcome& outcome) {
  return outcome.problem == Problem::kNone;
}

// Copies everything from `from` (until its end) to `to`. Returns 0 or the
// system's error number.
int copy_stream(int from, int to) {
  std::array<char, kCopyChunk> buffer{};
  for (;;) {
    const std::int64_t got = platform::read(from, buffer.data(), buffer.size());
    if (got <= 0) return got < 0 ? errno : 0;
    errno = 0;
    // A write that puts nothing sets no errno.
    if (!platform::write(to, buffer.data(), static_cast<std::size_t>(got)))
      return errno != 0 ? errno : EIO;
  }
}

// Opens the GIF for the engine, which reads it front to back: standard input
// is handed over as it is, pipes included, and converts as it streams. A path
// is opened without waiting for a writer (a pipe given by name would otherwise
// hang) and must be a regular file; anything else is refused as what it is.
Outcome open_input(const Job& job, int& fd) {
  if (job.input == kStandardStream) {
    fd = STDIN_FILENO;
    return {};
  }
  fd = ::open(job.input.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return failure(Problem::kInputUnreadable, ERR_OPEN_FAILED, errno);
  struct stat info {};
  Outcome outcome;
  if (::fstat(fd, &info) != 0) {
    outcome = failure(Problem::kInputUnreadable, ERR_OPEN_FAILED, errno);
  } else if (S_ISDIR(info.st_mode)) {
    outcome = failure(Problem::kInputUnreadable, ERR_OPEN_FAILED, EISDIR);
  } else if (!S_ISREG(info.st_mode)) {
    outcome = failure(Problem::kInputNotAFile, ERR_OPEN_FAILED);
    outcome.file_type = info.st_mode & S_IFMT;
  }
  if (!succeeded(outcome)) {
    ::close(fd);
    fd = -1;
  }
  return outcome;
}

// Runs the engine from gif into the empty, positionable bmp. Where writing
// failed and the system said why, the failure carries its reason.
Outcome run_engine(int gif, int bmp, const ConversionOptions& options) {
  Outcome outcome;
  errno = 0;
  const int code = convert_gif(gif, bmp, options, outcome.report);
  const int error = errno;
  if (code == BREVLO_SUCCESS) return outcome;
  outcome.code = code;
  outcome.problem = Problem::kConversionFailed;
  if (outcome.report.reason == Reason::kWriteFailed && error != 0) {
    outcome.problem = Problem::kWriteFailed;
    outcome.error_number = error;
  }
  return outcome;
}

// Converts into a nameless file first, then copies the whole BMP to the
// stream (standard output, a device, a pipe): these cannot be positioned, and
// a failed conversion then sends nothing at all.
Outcome convert_to_stream(int gif, int stream, const ConversionOptions& options) {
  const int spool = open_nameless_file();
  if (spool < 0) return failure(Problem::kWriteFailed, ERR_OPEN_FAILED, errno);
  Outcome outcome = run_engine(gif, spool, options);
  if (succeeded(outcome)) {
    const int error = ::lseek(spool, 0, SEEK_SET) == 0 ? copy_stream(spool, stream) : errno;
    if (error != 0) {
      const ConversionReport report = outcome.report;
      outcome = failure(Problem::kWriteFailed, ERR_OPEN_FAILED, error);
      outcome.report = report;
    }
  }
  ::close(spool);
  return outcome;
}

// Writes into an existing stream or device at path, in place: it is never
// replaced or removed.
Outcome convert_in_place(int gif, const std::string& path, const ConversionOptions& options) {
  const int stream = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (stream < 0) return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, errno);
  Outcome outcome = convert_to_stream(gif, stream, options);
  if (::close(stream) != 0 && succeeded(outcome))
    outcome = failure(Problem::kWriteFailed, ERR_OPEN_FAILED, errno);
  return outcome;
}

// What a regular output replaces: its permission bits and owner carry over.
struct Replaced {
  bool exists = false;
  unsigned mode = kNewFileMode;
  uid_t owner = 0;
  gid_t group = 0;
};

void carry_over(const Replaced& old, int fd) {
  if (!old.exists) return;
  // Only the owner or root may give a file away; otherwise it stays ours.
  [[maybe_unused]] const int given = ::fchown(fd, old.owner, old.group);
  ::fchmod(fd, old.mode);
}

// Writes the BMP under a temporary name in target's folder and renames it to
// target once complete: target holds the old file or the whole new one, never
// part of one, whatever happens meanwhile.
Outcome convert_whole_file(int gif, const std::string& target, const Replaced& old,
                           const Options& options) {
  Temporary temporary;
  if (int error = create_temporary_beside(target, old.mode, temporary); error != 0)
    return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  carry_over(old, temporary.fd);
  Outcome outcome = run_engine(gif, temporary.fd, conversion_of(options));
  const int closed = ::close(temporary.fd);
  temporary.fd = -1;
  if (succeeded(outcome) && closed != 0)
    outcome = failure(Problem::kWriteFailed, ERR_OPEN_FAILED, errno);
  if (!succeeded(outcome)) {
    discard_temporary(temporary);
    return outcome;
  }
  // A file that appeared at target since the check is never replaced unasked.
  const int error = commit_temporary(temporary, target, old.exists || options.force);
  if (error == EEXIST)
    return failure(options.skip_existing ? Problem::kSkipped : Problem::kOutputExists, 0);
  if (error != 0) return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  return outcome;
}

Outcome make_output_folder(const std::string& target) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(target).parent_path(), error);
  return error ? failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error.value()) : Outcome{};
}

// Decides how the BMP reaches job.output and writes it there.
Outcome convert_to_output(const Job& job, int gif, const Options& options) {
  if (job.to_stdout) return convert_to_stream(gif, STDOUT_FILENO, conversion_of(options));
  const std::string target = final_target(job.output);
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0) {
    if (job.create_folders) {
      if (Outcome made = make_output_folder(target); !succeeded(made)) return made;
    }
    return convert_whole_file(gif, target, {}, options);
  }
  if (S_ISDIR(info.st_mode)) return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, EISDIR);
  // A pipe or character device (/dev/null for a dry run) holds nothing to keep.
  if (is_stream(info.st_mode)) return convert_in_place(gif, target, conversion_of(options));
  if (options.skip_existing) return failure(Problem::kSkipped, 0);
  if (!options.force) return failure(Problem::kOutputExists, 0);
  if (!S_ISREG(info.st_mode)) return convert_in_place(gif, target, conversion_of(options));
  return convert_whole_file(
      gif, target, {true, info.st_mode & kPermissionBits, info.st_uid, info.st_gid}, options);
}

}  // namespace

Outcome convert_job(const Job& job, const Options& options) {
  if (job.refusal != Problem::kNone)
    return failure(job.refusal, job.error_number != 0 ? ERR_OPEN_FAILED : 0, job.error_number);
  // An empty name is refused as the library refuses it, touching no file.
  if (job.input.empty() || job.output.empty())
    return failure(Problem::kConversionFailed, ERR_EMPTY_NAME);
  // An input that cannot be opened is refused before any output is touched.
  int gif = -1;
  if (Outcome opened = open_input(job, gif); !succeeded(opened)) return opened;
  Outcome outcome = convert_to_output(job, gif, options);
  if (gif != STDIN_FILENO) ::close(gif);
  return outcome;
}

}  // namespace brevlo::cli
