#include "convert_job.h"

#include <brevlo.h>

#include <cerrno>

#include "file_checks.h"

namespace brevlo::cli {

namespace {

Outcome convert_into(const std::string& input, const std::string& output) {
  int code = BREVLO32(input.c_str(), output.c_str());
  if (code == BREVLO_SUCCESS) return {};
  return {Problem::kConversionFailed, code, 0, starts_like_gif(input)};
}

// --force over an existing file: the library truncates its output at the
// start and deletes it after a failure, so the conversion goes into a new file
// beside it that takes the old one's place only once it is complete. A failed
// conversion leaves the old file as it was.
Outcome replace(const Job& job) {
  const std::string temporary = temporary_name_beside(job.output);
  if (int error = reserve_new_file(temporary); error != 0)
    return {Problem::kOutputUncreatable, ERR_OPEN_FAILED, error};
  Outcome outcome = convert_into(job.input, temporary);
  if (outcome.problem != Problem::kNone) return outcome;
  if (int error = move_into_place(temporary, job.output); error != 0) {
    remove_file(temporary);
    return {Problem::kOutputUncreatable, ERR_OPEN_FAILED, error};
  }
  return {};
}

Outcome convert_checked(const Job& job, bool force) {
  // An input that cannot be opened is refused before any output is touched.
  if (int error = check_readable(job.input); error != 0)
    return {Problem::kInputUnreadable, ERR_OPEN_FAILED, error};
  const FileIdentity output = identify(job.output);
  if (output.is_folder) return {Problem::kOutputUncreatable, ERR_OPEN_FAILED, EISDIR};
  if (output.exists) {
    if (!force) return {Problem::kOutputExists};
    // A device or pipe is written in place; the library never deletes one.
    return output.is_regular ? replace(job) : convert_into(job.input, job.output);
  }
  // Claiming the name first means a file that appears there meanwhile is
  // never overwritten without --force.
  const int error = reserve_new_file(job.output);
  if (error == EEXIST) return force ? replace(job) : Outcome{Problem::kOutputExists};
  if (error != 0) return {Problem::kOutputUncreatable, ERR_OPEN_FAILED, error};
  return convert_into(job.input, job.output);
}

}  // namespace

Outcome convert_job(const Job& job, bool force) {
  if (job.refusal != Problem::kNone) return {job.refusal};
  // An empty name goes straight to the library, which refuses it without
  // touching any file.
  if (job.input.empty()) return convert_into(job.input, job.output);
  return convert_checked(job, force);
}

}  // namespace brevlo::cli
