#include "convert_job.h"

#include <brevlo.h>

#include <cerrno>

#include "file_checks.h"

namespace brevlo::cli {

namespace {

// Checks that the library would otherwise make by opening, creating or
// truncating files. An input that cannot be opened is refused here, before an
// existing output is truncated by a conversion that cannot succeed.
Outcome check_files(const Job& job, bool force) {
  if (int error = check_readable(job.input); error != 0)
    return {Problem::kInputUnreadable, ERR_OPEN_FAILED, error};
  FileIdentity output = identify(job.output);
  if (output.is_folder) return {Problem::kOutputUncreatable, ERR_OPEN_FAILED, EISDIR};
  if (output.exists) return force ? Outcome{} : Outcome{Problem::kOutputExists};
  int error = reserve_new_file(job.output);
  if (error == EEXIST) return force ? Outcome{} : Outcome{Problem::kOutputExists};
  if (error != 0) return {Problem::kOutputUncreatable, ERR_OPEN_FAILED, error};
  return {};
}

}  // namespace

Outcome convert_job(const Job& job, bool force) {
  if (job.refusal != Problem::kNone) return {job.refusal};
  // An empty name goes straight to the library, which refuses it without
  // touching any file.
  if (!job.input.empty()) {
    if (Outcome checked = check_files(job, force); checked.problem != Problem::kNone)
      return checked;
  }
  int code = BREVLO32(job.input.c_str(), job.output.c_str());
  if (code == BREVLO_SUCCESS) return {};
  return {Problem::kConversionFailed, code, 0, starts_like_gif(job.input)};
}

}  // namespace brevlo::cli
