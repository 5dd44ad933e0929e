#include "output_plan.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "folder_walk.h"
#include "job_runner.h"

namespace brevlo::cli {

namespace {

namespace fs = std::filesystem;
using platform::FileIdentity;
using platform::FileKind;

// The most links followed on the way to a file, as the kernel allows.
constexpr int kMaxLinks = 40;

std::vector<Source> sources_of(const Options& options) {
  std::vector<Source> sources;
  for (const std::string& input : options.inputs) {
    if (options.recursive && input != kStandardStream &&
        platform::identify_path(input.c_str()).kind == FileKind::kFolder)
      walk_folder(input, sources);
    else
      sources.push_back({input, fs::path(input).filename().string()});
  }
  return sources;
}

Job job_for(const Options& options, const Source& source) {
  Job job;
  job.input = source.input;
  job.frames = options.frames;
  const auto output_name = options.frames ? frame_prefix_for : bmp_name_for;
  job.refusal = source.system_error != 0 ? Problem::kInputUnreadable : Problem::kNone;
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
      job.output = (fs::path(options.output) / output_name(source.path_below_folder)).string();
      job.create_folders = source.found_in_folder;
      break;
  }
  return job;
}

// Spells each place in the file system one way, so that "a.bmp", "./a.bmp"
// and "dir/../a.bmp" compare equal even before the file exists: the folder
// by its identity (looked up once per spelling of it) and the last name as
// written; a folder not there yet by its absolute path.
class Places {
 public:
  std::string of(const std::string& path) {
    const fs::path name = path;
    const std::string folder = name.has_parent_path() ? name.parent_path().string() : ".";
    auto [place, added] = folders_.try_emplace(folder);
    if (added) place->second = folder_place(folder);
    return place->second + '/' + name.filename().string();
  }

 private:
  std::string folder_place(const std::string& folder) {
    const FileIdentity found = platform::identify_path(folder.c_str());
    if (found.known) return std::to_string(found.volume) + ':' + std::to_string(found.index);
    if (cwd_.empty()) cwd_ = platform::current_folder();
    return (cwd_ / folder).lexically_normal().string();
  }

  std::unordered_map<std::string, std::string> folders_;
  fs::path cwd_;
};

// Every input of a run, found both by the file it is (which catches links) and
// by where its name leads (which catches names of files not there yet).
struct InputIndex {
  InputFiles by_file;
  std::unordered_map<std::string, std::size_t> by_place;
  // Inputs named as a frame file is (PREFIX-001.bmp), by the place of PREFIX.
  std::unordered_map<std::string, std::size_t> by_frame_prefix;
};

// The prefix of a name that a frame file could have: "a/b-001.bmp" gives
// "a/b"; "" for any other name.
std::string frame_prefix_of(const std::string& name) {
  constexpr std::string_view kBmp = ".bmp";
  constexpr std::size_t kLeastDigits = 3;
  if (!name.ends_with(kBmp)) return "";
  std::size_t digits_start = name.size() - kBmp.size();
  while (digits_start > 0 && name[digits_start - 1] >= '0' && name[digits_start - 1] <= '9')
    --digits_start;
  const std::size_t digits = name.size() - kBmp.size() - digits_start;
  if (digits < kLeastDigits || digits_start < 2 || name[digits_start - 1] != '-') return "";
  return name.substr(0, digits_start - 1);
}

bool reads_a_named_file(const Job& job) {
  return !job.input.empty() && job.input != kStandardStream;
}

InputIndex index_inputs(const std::vector<Job>& jobs, Places& places) {
  InputIndex index;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (!reads_a_named_file(jobs[i])) continue;
    if (const FileIdentity& file = jobs[i].input_file; file.known)
      index.by_file.try_emplace({file.volume, file.index}, i);
    index.by_place.try_emplace(places.of(jobs[i].input), i);
    if (const std::string prefix = frame_prefix_of(jobs[i].input); !prefix.empty())
      index.by_frame_prefix.try_emplace(places.of(prefix), i);
  }
  return index;
}

// The job whose input the target (at place) is, or kNoInput; for --frames,
// whose input is named as one of the frame files of the prefix at place.
std::size_t input_job_at(const InputIndex& index, const Job& job, const std::string& place) {
  if (job.frames) {
    auto found = index.by_frame_prefix.find(place);
    return found == index.by_frame_prefix.end() ? kNoInput : found->second;
  }
  if (const std::size_t input = input_job_of(index.by_file, job.existing); input != kNoInput)
    return input;
  auto found = index.by_place.find(place);
  return found == index.by_place.end() ? kNoInput : found->second;
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

// What the job's input and output are now: each file is looked at once.
void look_at_files(Job& job, const platform::StandardStreams& streams) {
  refuse_closed_streams(job, streams);
  if (reads_a_named_file(job)) job.input_file = platform::identify_path(job.input.c_str());
  // A frame file is looked at when its frame is ready; the prefix is no file.
  if (writes_a_named_file(job) && job.frames) job.target = job.output;
  if (writes_a_named_file(job) && !job.frames) find_target(job);
}

// Refuses each job whose output leads to an input of the run, or is the
// output of an earlier job. Returns the inputs by identity.
InputFiles refuse_conflicting_outputs(std::vector<Job>& jobs) {
  Places places;
  InputIndex inputs = index_inputs(jobs, places);
  std::unordered_map<std::string, std::size_t> output_places;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    Job& job = jobs[i];
    if (!writes_a_named_file(job)) continue;
    const std::string place = places.of(job.target);
    if (std::size_t input = input_job_at(inputs, job, place); input != kNoInput) {
      // An input listed twice leads to one file; name the copy that is this job's own.
      const bool own = input == i || places.of(job.input) == places.of(jobs[input].input);
      job.refusal = own ? Problem::kOutputIsTheInput : Problem::kOutputIsAnotherInput;
      job.other_job = input;
    }
    auto [first, inserted] = output_places.try_emplace(place, i);
    if (!inserted && job.refusal == Problem::kNone) {
      job.refusal = Problem::kSameOutputAsEarlier;
      job.other_job = first->second;
    }
  }
  return std::move(inputs.by_file);
}

}  // namespace

std::string bmp_name_for(std::string_view gif_path) {
  constexpr std::string_view kGif = ".gif";
  std::string name(gif_path);
  // ".gif" alone is a whole file name, not an extension.
  if (ends_with_ignoring_case(name, kGif) && name.size() > kGif.size() &&
      name[name.size() - kGif.size() - 1] != '/')
    name.resize(name.size() - kGif.size());
  return name + ".bmp";
}

void find_target(Job& job) {
  fs::path name = job.output;
  for (int followed = 0;; ++followed) {
    const FileIdentity found = platform::identify_name(name.c_str());
    if (found.kind != FileKind::kLink) {
      job.target = name.string();
      job.existing = found;
      return;
    }
    std::string leads_to;
    const int error = followed < kMaxLinks ? platform::read_link(name.string(), leads_to)
                                           : platform::kTooManyLinks;
    if (error != 0) {
      job.refusal = Problem::kOutputUncreatable;
      job.system_error = error;
      return;
    }
    const fs::path next = leads_to;
    name = next.is_absolute() ? next : name.parent_path() / next;
  }
}

std::string frame_prefix_for(std::string_view gif_path) {
  std::string name = bmp_name_for(gif_path);
  name.resize(name.size() - std::string_view(".bmp").size());
  return name;
}

std::size_t input_job_of(const InputFiles& inputs, const FileIdentity& found) {
  if (!found.known) return kNoInput;
  auto input = inputs.find({found.volume, found.index});
  return input == inputs.end() ? kNoInput : input->second;
}

Plan plan_jobs(const Options& options, const platform::StandardStreams& streams) {
  Plan plan;
  std::vector<Job>& jobs = plan.jobs;
  for (const Source& source : sources_of(options)) jobs.push_back(job_for(options, source));
  if (options.second_may_be_output && jobs.size() == 2) jobs[1].may_be_meant_as_output = true;
  for_each_index(jobs.size(), worker_count(options.jobs, jobs.size()),
                 [&](std::size_t i) { look_at_files(jobs[i], streams); });
  plan.inputs = refuse_conflicting_outputs(jobs);
  plan.new_files = platform::read_new_file_defaults();
  return plan;
}

}  // namespace brevlo::cli
