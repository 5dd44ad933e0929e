#include "convert_job.h"

#include <brevlo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>

#include "engine/conversion.h"
#include "file_checks.h"
#include "interrupts.h"
#include "temporary_files.h"

namespace brevlo::cli {

namespace {

using platform::FileIdentity;
using platform::FileKind;

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
Outcome open_input(const Job& job, int& fd, FileIdentity& opened) {
  if (job.input == kStandardStream) {
    fd = STDIN_FILENO;
    return {};
  }
  const platform::FileHandle file = platform::open_for_reading(job.input.c_str(), &opened);
  if (file == platform::kNoFile) return failure(Problem::kInputUnreadable, ERR_OPEN_FAILED, errno);
  fd = static_cast<int>(file);
  if (platform::is_regular(opened)) return {};
  Outcome outcome = failure(Problem::kInputNotAFile, ERR_OPEN_FAILED);
  outcome.file_kind = opened.kind;
  platform::close(file);
  fd = -1;
  return outcome;
}

// Runs the engine from gif into the empty, positionable bmp. Where writing
// failed and the system said why, the failure carries its reason.
Outcome run_engine(int gif, int bmp, const ConversionOptions& options) {
  Outcome outcome;
  const int code = convert_gif(gif, bmp, options, outcome.report);
  if (code == BREVLO_SUCCESS) return outcome;
  outcome.code = code;
  outcome.problem = Problem::kConversionFailed;
  if (outcome.report.reason == Reason::kWriteFailed && outcome.report.system_error != 0) {
    outcome.problem = Problem::kWriteFailed;
    outcome.error_number = outcome.report.system_error;
  }
  return outcome;
}

// Converts into a nameless file first, then copies the whole BMP to the
// stream (standard output, a device, a pipe): these cannot be positioned, and
// a failed conversion then sends nothing at all. A failure of the nameless
// file is reported as its own, not the stream's.
Outcome convert_to_stream(int gif, int stream, const ConversionOptions& options) {
  const int spool = open_nameless_file();
  if (spool < 0) return failure(Problem::kTemporaryUncreatable, ERR_OPEN_FAILED, errno);
  Outcome outcome = run_engine(gif, spool, options);
  if (outcome.problem == Problem::kWriteFailed) outcome.problem = Problem::kTemporaryWriteFailed;
  if (succeeded(outcome)) {
    const int error = ::lseek(spool, 0, SEEK_SET) == 0 ? copy_stream(spool, stream) : errno;
    if (error != 0) {
      end_on_broken_pipe(error);
      const ConversionReport report = outcome.report;
      outcome = failure(Problem::kWriteFailed, ERR_OPEN_FAILED, error);
      outcome.report = report;
    }
  }
  ::close(spool);
  return outcome;
}

// Writes into an existing stream or device at path, in place: it is never
// replaced or removed. Opening a pipe waits for its reader, as a shell's
// redirection does.
Outcome convert_in_place(int gif, const std::string& path, const ConversionOptions& options) {
  const int stream = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (stream < 0) return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, errno);
  Outcome outcome = convert_to_stream(gif, stream, options);
  if (::close(stream) != 0 && succeeded(outcome))
    outcome = failure(Problem::kWriteFailed, ERR_OPEN_FAILED, errno);
  return outcome;
}

// A replaced file's permission bits and owner carry over to the new one,
// where they differ from what a new file gets.
void carry_over(const FileIdentity& old, const NewFileDefaults& created, int fd) {
  const bool owner_differs = old.owner != created.owner || old.group != created.group;
  // Only the owner or root may give a file away; otherwise it stays ours.
  [[maybe_unused]] const int given = owner_differs ? ::fchown(fd, old.owner, old.group) : 0;
  // A change of owner clears the set-user-ID and set-group-ID bits.
  if (owner_differs || old.permissions != created.permissions) ::fchmod(fd, old.permissions);
}

// The refusal due when target, as it is now, leads to the input opened or to
// another input of the run: a link put there since the run was planned is
// refused, never followed.
Outcome check_before_commit(const std::string& target, const FileIdentity& opened,
                            const InputFiles& inputs) {
  const FileIdentity found = platform::identify_path(target.c_str());
  if (platform::same_file(found, opened)) return failure(Problem::kOutputIsTheInput, 0);
  const std::size_t other = input_job_of(inputs, found);
  if (other == kNoInput) return {};
  Outcome outcome = failure(Problem::kOutputIsAnotherInput, 0);
  outcome.other = other;
  return outcome;
}

// Makes target's folder, with its parents, when the job may.
int make_folder_for(const Job& job) {
  if (!job.create_folders) return ENOENT;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(job.target).parent_path(), error);
  return error.value();
}

int create_temporary_for(const Job& job, Temporary& temporary) {
  int error = create_temporary_beside(job.target, temporary);
  if (error == ENOENT && (error = make_folder_for(job)) == 0)
    error = create_temporary_beside(job.target, temporary);
  return error;
}

Commit commit_for(const Job& job, const Options& options) {
  if (job.existing.known) return Commit::kReplace;
  // A file that appeared at target since the run was planned is never
  // replaced unasked.
  return options.force ? Commit::kReplaceIfThere : Commit::kNeverReplace;
}

// Gives the complete temporary file the name job.target, unless that name now
// leads to an input.
Outcome name_output(const Job& job, Temporary& temporary, const FileIdentity& opened,
                    const Options& options, const Plan& plan) {
  const Commit commit = commit_for(job, options);
  if (job.existing.known) carry_over(job.existing, plan.new_files, temporary.fd);
  if (const int error = close_temporary(temporary, job.target, commit); error != 0)
    return failure(Problem::kWriteFailed, ERR_OPEN_FAILED, error);
#ifdef BREVLO_STOP_BEFORE_COMMIT
  ::raise(SIGSTOP);  // a build for tests only: see tools/CMakeLists.txt
#endif
  if (Outcome refused = check_before_commit(job.target, opened, plan.inputs); !succeeded(refused))
    return refused;
  const int error = commit_temporary(temporary, job.target, commit);
  if (error == EEXIST)
    return failure(options.skip_existing ? Problem::kSkipped : Problem::kOutputExists, 0);
  return error != 0 ? failure(Problem::kWriteFailed, ERR_OPEN_FAILED, error) : Outcome{};
}

// Writes the BMP into a temporary file in target's folder and gives it the
// name target once complete: target holds the old file or the whole new one,
// never part of one, whatever happens meanwhile.
Outcome convert_whole_file(const Job& job, int gif, const FileIdentity& opened,
                           const Options& options, const Plan& plan) {
  Temporary temporary;
  if (const int error = create_temporary_for(job, temporary); error != 0)
    return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  Outcome outcome = run_engine(gif, temporary.fd, conversion_of(options));
  if (succeeded(outcome)) {
    const ConversionReport report = outcome.report;
    outcome = name_output(job, temporary, opened, options, plan);
    outcome.report = report;
  }
  discard_temporary(temporary);
  return outcome;
}

// Decides how the BMP reaches job.target, from what was there when the run
// was planned, and writes it there.
Outcome convert_to_output(const Job& job, int gif, const FileIdentity& opened,
                          const Options& options, const Plan& plan) {
  if (job.to_stdout) return convert_to_stream(gif, STDOUT_FILENO, conversion_of(options));
  const FileIdentity& existing = job.existing;
  if (!existing.known) return convert_whole_file(job, gif, opened, options, plan);
  if (existing.kind == FileKind::kFolder)
    return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, EISDIR);
  // A pipe or character device (/dev/null for a dry run) holds nothing to keep.
  if (is_stream(existing.kind)) return convert_in_place(gif, job.target, conversion_of(options));
  if (options.skip_existing) return failure(Problem::kSkipped, 0);
  if (!options.force) return failure(Problem::kOutputExists, 0);
  if (!platform::is_regular(existing))
    return convert_in_place(gif, job.target, conversion_of(options));
  return convert_whole_file(job, gif, opened, options, plan);
}

}  // namespace

Outcome convert_job(const Job& job, const Options& options, const Plan& plan) {
  if (job.refusal != Problem::kNone) {
    const bool system_refused = job.error_number != 0;
    Outcome refused = failure(job.refusal, system_refused ? ERR_OPEN_FAILED : 0, job.error_number);
    refused.other = job.other;
    return refused;
  }
  // An empty name is refused as the library refuses it, touching no file.
  if (job.input.empty() || job.output.empty())
    return failure(Problem::kConversionFailed, ERR_EMPTY_NAME);
  // An input that cannot be opened is refused before any output is touched.
  int gif = -1;
  FileIdentity opened;
  if (Outcome outcome = open_input(job, gif, opened); !succeeded(outcome)) return outcome;
  Outcome outcome = convert_to_output(job, gif, opened, options, plan);
  if (gif != STDIN_FILENO) ::close(gif);
  return outcome;
}

}  // namespace brevlo::cli
