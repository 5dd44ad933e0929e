#include "output_commit.h"

#include <filesystem>

#include "convert_job.h"

namespace brevlo::cli {

namespace {

using platform::Commit;
using platform::FileIdentity;

// The refusal due when target, as it is now, leads to the input opened or to
// another input of the run.
Outcome check_before_commit(const std::string& target, const FileIdentity& opened,
                            const InputFiles& inputs) {
  const FileIdentity found = platform::identify_path(target.c_str());
  if (platform::same_file(found, opened)) return failure(Problem::kOutputIsTheInput);
  const std::size_t other = input_job_of(inputs, found);
  if (other == kNoInput) return {};
  Outcome outcome = failure(Problem::kOutputIsAnotherInput);
  outcome.other_job = other;
  return outcome;
}

// Makes target's folder, with its parents, when the job may. Returns 0 or the
// system's error number.
int make_folder_for(const Job& job) {
  if (!job.create_folders) return platform::kNoSuchName;
  return platform::make_folders(std::filesystem::path(job.target).parent_path().string());
}

Commit commit_for(const Job& job, const Options& options) {
  if (job.existing.known) return Commit::kReplace;
  // A file that appeared at target since the run was planned is never
  // replaced unasked.
  return options.force ? Commit::kReplaceIfThere : Commit::kNeverReplace;
}

}  // namespace

Outcome create_output_file(const Job& job, platform::TemporaryFile& temporary) {
  int error = platform::create_temporary_beside(job.target, temporary);
  if (error == platform::kNoSuchName && (error = make_folder_for(job)) == 0)
    error = platform::create_temporary_beside(job.target, temporary);
  return error != 0 ? failure(Problem::kOutputUncreatable, error) : Outcome{};
}

Outcome commit_output(const Job& job, platform::TemporaryFile& temporary,
                      const FileIdentity& opened, const Options& options, const Plan& plan) {
  const Commit commit = commit_for(job, options);
  if (job.existing.known) platform::carry_over(temporary.file, job.existing, plan.new_files);
  if (const int error = platform::close_temporary(temporary); error != 0)
    return failure(Problem::kWriteFailed, error);
  platform::stop_before_commit();
  if (Outcome refused = check_before_commit(job.target, opened, plan.inputs); !succeeded(refused))
    return refused;
  const int error = platform::commit_temporary(temporary, job.target, commit);
  if (error == platform::kNameTaken)
    return failure(options.skip_existing ? Problem::kSkipped : Problem::kOutputExists);
  return error != 0 ? failure(Problem::kWriteFailed, error) : Outcome{};
}

}  // namespace brevlo::cli
