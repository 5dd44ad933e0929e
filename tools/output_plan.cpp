#include "output_plan.h"

#include "path_names.h"

namespace brevlo::cli {

namespace {

using platform::FileIdentity;
using platform::FileKind;

// The most links followed on the way to a file, as the kernel allows.
constexpr int kMaxLinks = 40;

constexpr std::string_view kBmp = ".bmp";

Job job_for(const Options& options, const Source& source) {
  Job job;
  job.input = source.input;
  job.listed_at = source.listed_at;
  job.may_be_meant_as_output = source.may_be_meant_as_output;
  job.frames = options.frames;
  const auto output_name = options.frames ? frame_prefix_for : bmp_name_for;
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
      job.output = output_name(source.input);
      break;
    case Destination::kFolder:
      job.output = name_in(options.output, output_name(source.path_below_folder));
      job.create_folders = source.found_in_folder;
      break;
  }
  return job;
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

// --frames: the place of the prefix whose frame file the name at place would
// be ("/d/a" for "/d/a-001.bmp", a frame number of three digits or more), or
// "" for a name no frame file has. A place is spelt as the file system
// compares names, so on Windows "A-001.BMP" is a frame file of "a" too.
std::string frame_prefix_place(const std::string& place) {
  static const std::string bmp = platform::name_as_compared(std::string(kBmp));
  constexpr std::size_t kLeastDigits = 3;
  if (!place.ends_with(bmp)) return "";
  const std::size_t digits_end = place.size() - bmp.size();
  std::size_t digits_start = digits_end;
  while (digits_start > 0 && place[digits_start - 1] >= '0' && place[digits_start - 1] <= '9')
    --digits_start;
  if (digits_end - digits_start < kLeastDigits || digits_start < 2 ||
      place[digits_start - 1] != '-' || is_folder_separator(place[digits_start - 2]))
    return "";
  return place.substr(0, digits_start - 1);
}

// Indexes an input named as a frame file is, by the place of its prefix, so
// that a job whose frames would take that name is refused.
void index_frame_named_input(Plan& plan, Job& job, const std::string& prefix_place) {
  std::string earlier;
  if (!prefix_place.empty() &&
      add_frame_named_input(plan.index, prefix_place, job.input, earlier) == Added::kFull)
    refuse(job, Problem::kRunTooLarge);
}

// Refuses a name from a list or a walk that is the output of an earlier
// input (with --frames, named as one of its frame files), and otherwise
// indexes the file it is, for the outputs planned later.
void index_streamed_input(Plan& plan, Job& job) {
  std::string other;
  const std::string place = place_of(plan.places, job.input);
  const std::string prefix = job.frames ? frame_prefix_place(place) : std::string();
  const std::string& output_place = job.frames ? prefix : place;
  if (!output_place.empty() && find_output(plan.index, output_place, other)) {
    refuse(job, Problem::kInputIsAnEarlierOutput, std::move(other));
    return;
  }
  if (job.input_file.known &&
      add_input_file(plan.index, job.input_file, job.input, other) == Added::kFull)
    refuse(job, Problem::kRunTooLarge);
  if (job.frames) index_frame_named_input(plan, job, output_place);
}

// Takes the output place for the job, unless an earlier job has it. A
// refused job keeps its output too: a later one with the same output names
// it.
void claim_output_place(Plan& plan, Job& job, const std::string& place) {
  std::string other;
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
  claim_output_place(plan, job, place);
}

// --frames: refuses the job when an input the run has read is named as one
// of its frame files, or an earlier job has its prefix; otherwise the prefix
// is the job's from now. Each frame file is looked at, and checked against
// the inputs by identity, when its frame is ready.
void refuse_conflicting_prefix(Plan& plan, Job& job) {
  const std::string place = place_of(plan.places, job.output);
  std::string other;
  if (find_frame_named_input(plan.index, place, other))
    refuse(job, Problem::kOutputIsAnotherInput, std::move(other));
  claim_output_place(plan, job, place);
}

}  // namespace

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

std::string bmp_name_for(std::string_view gif_path) {
  constexpr std::string_view kGif = ".gif";
  std::string name(gif_path);
  // ".gif" alone is a whole file name, not an extension.
  if (ends_with_ignoring_case(name, kGif) && name.size() > kGif.size() &&
      !is_folder_separator(name[name.size() - kGif.size() - 1]))
    name.resize(name.size() - kGif.size());
  return name.append(kBmp);
}

std::string frame_prefix_for(std::string_view gif_path) {
  std::string name = bmp_name_for(gif_path);
  name.resize(name.size() - kBmp.size());
  return name;
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
    const std::string place = place_of(plan.places, input);
    add_input_place(plan.index, place, input, earlier);
    if (!options.frames) continue;
    if (const std::string prefix = frame_prefix_place(place); !prefix.empty())
      add_frame_named_input(plan.index, prefix, input, earlier);
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
  if (job.frames) {
    if (writes_a_named_file(job)) refuse_conflicting_prefix(plan, job);
    return job;
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
