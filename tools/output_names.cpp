#include "output_names.h"

#include <filesystem>
#include <map>
#include <unordered_map>
#include <utility>

#include "file_checks.h"

namespace brevlo::cli {

namespace {

namespace fs = std::filesystem;

std::string output_path_for(const Options& options, const std::string& input) {
  if (!options.output.empty()) return options.output;
  if (options.output_dir.empty()) return bmp_name_for(input);
  return (fs::path(options.output_dir) / bmp_name_for(fs::path(input).filename().string()))
      .string();
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
    if (jobs[i].input.empty()) continue;
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

std::vector<Job> plan_jobs(const Options& options) {
  std::vector<Job> jobs;
  jobs.reserve(options.inputs.size());
  for (const std::string& input : options.inputs)
    jobs.push_back({input, output_path_for(options, input)});
  const InputIndex inputs = index_inputs(jobs);

  std::unordered_map<std::string, std::size_t> output_places;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    Job& job = jobs[i];
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
