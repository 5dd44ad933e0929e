#include "output_plan.h"

#include "path_names.h"

namespace brevlo::cli {

namespace {

using platform::FileIdentity;
using platform::FileKind;

// The most links followed on the way to a file, as the kernel allows.
constexpr int kMaxLinks = 40;

Job job_for(const Options& options, const Source& source) {
  Job job;
  job.input = source.input;
  job.listed_at = source.listed_at;
  job.may_be_meant_as_output = source.may_be_meant_as_output;
  job.refusal = source.problem;
  job.system_error = source.system_error;
  switch (options.destination) {
    case Destination::kStandardOutput:
      job.output = std::string(kStandardStream);
      job.to_stdout = true;
      break;
    case Destination::kFile:
      job.output = options.output;
      break;
    case Destination::kBesideInputs:
      job.output = bmp_name_for(source.input);
      break;
    case Destination::kFolder:
      job.output = name_in(options.output, bmp_name_for(source.path_below_folder));
      job.create_folders = source.found_in_folder;
      break;
  }
  return job;
}

// Follows the symbolic links from job.output to the name the BMP is given,
// and notes what is there now; a link that cannot be followed refuses the job.
void find_target(Job& job) {
  std::string name = job.output;
  for (int followed = 0;; ++followed) {
    const FileIdentity found = platform::identify_name(name.c_str());
    if (found.kind != FileKind::kLink) {
      job.target = name;
      job.existing = found;
      return;
    }
    std::string leads_to;
    const int error =
        followed < kMaxLinks ? platform::read_link(name, leads_to) : platform::kTooManyLinks;
    if (error != 0) {
      job.refusal = Problem::kOutputUncreatable;
      job.system_error = error;
      return;
    }
    name = text_of(joined(path_of(name).parent_path(), path_of(leads_to)));
  }
}

bool reads_a_named_file(const Job& job) {
  return !job.input.empty() && job.input != kStandardStream;
}

// A standard stream the command started without, named "-": what it was
// given instead only makes a use of it fail as a closed descriptor would.
void refuse_closed_streams(Job& job, const platform::StandardStreams& streams) {
  if (job.input == kStandardStream && streams.input_closed)
    job.refusal = Problem::kStandardInputClosed;
  else if (job.to_stdout && streams.output_closed)
    job.refusal = Problem::kStandardOutputClosed;
}

bool writes_a_named_file(const Job& job) {
  return !job.to_stdout && !job.input.empty() && job.refusal == Problem::kNone;
}

void refuse(Job& job, Problem problem, std::string other_input = {}) {
  if (job.refusal != Problem::kNone) return;  // the first reason found is the one reported
  job.refusal = problem;
  job.other_input = std::move(other_input);
}

// Refuses a name from a list or a walk that is the output of an earlier
// input, and otherwise indexes the file it is, for the outputs planned later.
void index_streamed_input(Plan& plan, Job& job) {
  std::string other;
  if (find_output(plan.index, place_of(plan.places, job.input), other)) {
    refuse(job, Problem::kInputIsAnEarlierOutput, std::move(other));
    return;
  }
  if (job.input_file.known &&
      add_input_file(plan.index, job.input_file, job.input, other) == Added::kFull)
    refuse(job, Problem::kRunTooLarge);
}

// Refuses the job when its output leads to an input the run has read, or is
// the output of an earlier job; otherwise the output is the job's from now.
void refuse_conflicting_output(Plan& plan, Job& job) {
  const std::string place = place_of(plan.places, job.target);
  std::string other;
  if (find_input_file(plan.index, job.existing, other) ||
      find_input_place(plan.index, place, other)) {
    // An input named twice leads to one file; name the copy that is this job's own.
    const bool own = platform::same_file(job.existing, job.input_file) ||
                     place == place_of(plan.places, job.input);
    if (own)
      refuse(job, Problem::kOutputIsTheInput);
    else
      refuse(job, Problem::kOutputIsAnotherInput, std::move(other));
  }
  // A refused job keeps its output too: a later one with the same output
  // names it.
  switch (claim_output(plan.index, place, job.input, other)) {
    case Added::kAlreadyThere:
      refuse(job, Problem::kSameOutputAsEarlier, std::move(other));
      break;
    case Added::kFull:
      refuse(job, Problem::kRunTooLarge);
      break;
    case Added::kAdded:
      break;
  }
}

}  // namespace

std::string bmp_name_for(std::string_view gif_path) {
  constexpr std::string_view kGif = ".gif";
  std::string name(gif_path);
  // ".gif" alone is a whole file name, not an extension.
  if (ends_with_ignoring_case(name, kGif) && name.size() > kGif.size() &&
      !is_folder_separator(name[name.size() - kGif.size() - 1]))
    name.resize(name.size() - kGif.size());
  return name + ".bmp";
}

bool index_command_line(Plan& plan, const Options& options) {
  bool all_files = true;
  std::string earlier;
  for (const std::string& input : options.inputs) {
    if (input.empty() || input == kStandardStream) continue;
    const FileIdentity file = platform::identify_path(input.c_str());
    if (options.recursive && file.kind == FileKind::kFolder) {
      all_files = false;
      continue;
    }
    // A full index refuses each job as it is planned.
    if (file.known) add_input_file(plan.index, file, input, earlier);
    add_input_place(plan.index, place_of(plan.places, input), input, earlier);
  }
  return all_files && !options.files_from;
}

Job plan_job(Plan& plan, const Options& options, const Source& source,
             const platform::StandardStreams& streams) {
  Job job = job_for(options, source);
  if (job.refusal != Problem::kNone) return job;
  refuse_closed_streams(job, streams);
  if (reads_a_named_file(job)) {
    job.input_file = platform::identify_path(job.input.c_str());
    if (!source.on_command_line) index_streamed_input(plan, job);
  }
  if (writes_a_named_file(job)) find_target(job);
  if (writes_a_named_file(job)) refuse_conflicting_output(plan, job);
  return job;
}

bool claim_walked_folder(Plan& plan, const Options& options, const Source& folder, Job& refused) {
  if (options.destination != Destination::kFolder || folder.path_below_folder.empty()) return true;
  const std::string below = name_in(options.output, folder.path_below_folder);
  std::string earlier;
  const Added added = claim_folder(plan.index, place_of(plan.places, below), folder.input, earlier);
  if (added == Added::kAdded) return true;
  refused = Job{};
  refused.input = folder.input;
  refused.output = below;
  refused.refusal = added == Added::kFull ? Problem::kRunTooLarge : Problem::kFolderNameTaken;
  refused.other_input = std::move(earlier);
  return false;
}

}  // namespace brevlo::cli
