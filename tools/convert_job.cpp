#include "convert_job.h"

#include <brevlo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/conversion.h"
#include "file_checks.h"

namespace brevlo::cli {

namespace {

Outcome failure(Problem problem, int code, int error_number = 0) {
  Outcome outcome;
  outcome.problem = problem;
  outcome.code = code;
  outcome.error_number = error_number;
  return outcome;
}

// Converts input into output, which exists already (reserved by the caller or
// a device). A failed conversion removes a regular output file.
Outcome convert_into(const std::string& input, const std::string& output,
                     const ConversionOptions& options) {
  const int gif = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
  if (gif < 0) return failure(Problem::kInputUnreadable, ERR_OPEN_FAILED, errno);
  const int bmp = ::open(output.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (bmp < 0) {
    const int error = errno;
    ::close(gif);
    return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  }
  Outcome outcome;
  const int code = convert_gif(gif, bmp, options, outcome.report);
  ::close(gif);
  const bool closed = ::close(bmp) == 0;
  if (code == BREVLO_SUCCESS && closed) return outcome;
  if (identify(output).is_regular) remove_file(output);
  outcome.problem = Problem::kConversionFailed;
  outcome.code = code != BREVLO_SUCCESS ? code : ERR_OPEN_FAILED;
  outcome.looks_like_gif = starts_like_gif(input);
  return outcome;
}

// --force over an existing file: the library truncates its output at the
// start and deletes it after a failure, so the conversion goes into a new file
// beside it that takes the old one's place only once it is complete. A failed
// conversion leaves the old file as it was.
Outcome replace(const Job& job, const ConversionOptions& options) {
  const std::string temporary = temporary_name_beside(job.output);
  if (int error = reserve_new_file(temporary); error != 0)
    return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  Outcome outcome = convert_into(job.input, temporary, options);
  if (outcome.problem != Problem::kNone) return outcome;
  if (int error = move_into_place(temporary, job.output); error != 0) {
    remove_file(temporary);
    return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  }
  return outcome;  // with what the engine learnt of the file
}

Outcome convert_checked(const Job& job, const Options& options) {
  // An input that cannot be opened is refused before any output is touched.
  if (int error = check_readable(job.input); error != 0)
    return failure(Problem::kInputUnreadable, ERR_OPEN_FAILED, error);
  const FileIdentity output = identify(job.output);
  if (output.is_folder) return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, EISDIR);
  if (output.exists) {
    if (!options.force) return failure(Problem::kOutputExists, 0);
    // A device or pipe is written in place and never deleted.
    return output.is_regular ? replace(job, options.conversion)
                             : convert_into(job.input, job.output, options.conversion);
  }
  // Claiming the name first means a file that appears there meanwhile is
  // never overwritten without --force.
  const int error = reserve_new_file(job.output);
  if (error == EEXIST)
    return options.force ? replace(job, options.conversion) : failure(Problem::kOutputExists, 0);
  if (error != 0) return failure(Problem::kOutputUncreatable, ERR_OPEN_FAILED, error);
  return convert_into(job.input, job.output, options.conversion);
}

}  // namespace

Outcome convert_job(const Job& job, const Options& options) {
  if (job.refusal != Problem::kNone) return failure(job.refusal, 0);
  // An empty name is refused as the library refuses it, touching no file.
  if (job.input.empty() || job.output.empty())
    return failure(Problem::kConversionFailed, ERR_EMPTY_NAME);
  return convert_checked(job, options);
}

}  // namespace brevlo::cli
