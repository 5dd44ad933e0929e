#include "output_names.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <utility>

#include "file_checks.h"

namespace brevlo::cli {

namespace {

namespace fs = std::filesystem;

// An input and where its output goes below an output folder: its file name,
// or for a file found by -r its path below the folder given.
struct Source {
  std::string input;
  std::string below;
  bool found_in_folder = false;
  int error_number = 0;  // the folder could not be walked
};

Job job_for(const Options& options, const Source& source) {
  Job job{source.input, {}};
  job.refusal = source.error_number != 0 ? Problem::kInputUnreadable : Problem::kNone;
  job.error_number = source.error_number;
  if (options.to_stdout) {
    job.output = kStandardStream;
    job.to_stdout = true;
  } else if (!options.output.empty()) {
    job.output = options.output;
  } else if (options.output_dir.empty()) {
    job.output = bmp_name_for(source.input);
  } else {
    job.output = (fs::path(options.output_dir) / bmp_name_for(source.below)).string();
    job.create_folders = source.found_in_folder;
  }
  return job;
}

bool is_gif_name(const fs::path& path) {
  return ends_with_ignoring_case(path.filename().string(), ".gif");
}

// The GIF files below folder, in name order. Links to folders are not
// followed; links to files are taken like the files. A folder that cannot be
// read becomes a source of its own that reports why.
void walk_folder(const std::string& folder, std::vector<Source>& sources) {
  std::vector<Source> found;
  std::error_code error;
  fs::recursive_directory_iterator walk(folder, error);
  for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
    const fs::directory_entry& entry = *walk;
    std::error_code ignored;
    if (!entry.is_regular_file(ignored) || !is_gif_name(entry.path())) continue;
    found.push_back(
        {entry.path().string(), entry.path().lexically_relative(folder).string(), true});
  }
  std::sort(found.begin(), found.end(),
            [](const Source& a, const Source& b) { return a.input < b.input; });
  sources.insert(sources.end(), found.begin(), found.end());
  if (error)
    sources.push_back({folder, fs::path(folder).filename().string(), false, error.value()});
}

std::vector<Source> sources_of(const Options& options) {
  std::vector<Source> sources;
  for (const std::string& input : options.inputs) {
    if (options.recursive && input != kStandardStream && identify(input).is_folder)
      walk_folder(input, sources);
    else
      sources.push_back({input, fs::path(input).filename().string()});
  }
  return sources;
}

// One spelling per place in the file system, so that "a.bmp", "./a.bmp" and
// "dir/../a.bmp" compare equal even before the file exists.
std::string place_of(const std::string& path) {
  std::error_code error;
  fs::path place = fs::weakly_canonical(path, error);
  if (error) place = fs::absolute(path, error).lexically_normal();
  return place.string();
}

constexpr std::size_t kNoInput = static_cast<std::size_t>(-1);

// Every input of a run, found both by the file it is (which catches links) and
// by where its name leads (which catches names of files not there yet).
struct InputIndex {
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> by_file;
  std::unordered_map<std::string, std::size_t> by_place;
};

InputIndex index_inputs(const std::vector<Job>& jobs) {
  InputIndex index;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].input.empty() || jobs[i].input == kStandardStream) continue;
    if (FileIdentity file = identify(jobs[i].input); file.exists)
      index.by_file.try_emplace({file.device, file.inode}, i);
    index.by_place.try_emplace(place_of(jobs[i].input), i);
  }
  return index;
}

// The job whose input the path (at place) leads to, or kNoInput.
std::size_t input_at(const InputIndex& index, const std::string& path, const std::string& place) {
  if (FileIdentity file = identify(path); file.exists) {
    if (auto found = index.by_file.find({file.device, file.inode}); found != index.by_file.end())
      return found->second;
  }
  auto found = index.by_place.find(place);
  return found == index.by_place.end() ? kNoInput : found->second;
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

std::string resolve_destination(Options& options) {
  const auto stdin_reads =
      std::count(options.inputs.begin(), options.inputs.end(), kStandardStream);
  if (stdin_reads > 1) return "standard input (-) can be read only once";
  const bool one_file = options.inputs.size() == 1 && !options.recursive;
  if (options.output_path == kStandardStream) {
    if (!one_file) return "-o - writes one BMP to standard output: give one input and no -r";
    if (stdout_is_terminal())
      return "standard output is a terminal: redirect it, or name a file with -o";
    options.to_stdout = true;
    return "";
  }
  if (!options.output_path.empty()) {
    const std::string& path = options.output_path;
    if (one_file && path.back() != '/' && !identify(path).is_folder)
      options.output = path;
    else
      options.output_dir = path;
  }
  if (stdin_reads > 0 && options.output.empty())
    return "standard input (-) needs an output file: -o FILE, or -o - for standard output";
  return "";
}

std::vector<Job> plan_jobs(const Options& options) {
  std::vector<Job> jobs;
  for (const Source& source : sources_of(options)) jobs.push_back(job_for(options, source));
  const InputIndex inputs = index_inputs(jobs);

  std::unordered_map<std::string, std::size_t> output_places;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    Job& job = jobs[i];
    if (job.to_stdout || job.refusal != Problem::kNone) continue;
    const std::string place = place_of(job.output);
    if (std::size_t input = input_at(inputs, job.output, place); input != kNoInput) {
      // An input listed twice leads to one file; name the copy that is this job's own.
      const bool own = input == i || place_of(job.input) == place_of(jobs[input].input);
      job.refusal = own ? Problem::kOutputIsTheInput : Problem::kOutputIsAnotherInput;
      job.other = input;
    }
    auto [first, inserted] = output_places.try_emplace(place, i);
    if (!inserted && job.refusal == Problem::kNone) {
      job.refusal = Problem::kSameOutputAsEarlier;
      job.other = first->second;
    }
  }
  return jobs;
}

}  // namespace brevlo::cli
