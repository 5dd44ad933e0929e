// Planning a run: one job per input, where each output goes, and which outputs
// must not be written because they would replace an input or another output
// of the same run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command_line.h"
#include "job.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

// The BMP name for a GIF name: a final ".gif" in any letter case becomes
// ".bmp"; any other name gets ".bmp" appended.
std::string bmp_name_for(std::string_view gif_path);

// The name prefix of a GIF's frame files (--frames): its BMP name without
// ".bmp", so that NAME.gif gives NAME-001.bmp, NAME-002.bmp, ...
std::string frame_prefix_for(std::string_view gif_path);

// Follows the symbolic links from job.output to the name the BMP is given
// (job.target), and notes what is there now (job.existing); a link that
// cannot be followed refuses the job.
void find_target(Job& job);

constexpr std::size_t kNoInput = static_cast<std::size_t>(-1);

// The files the inputs of a run were when it was planned, by identity, each
// with the first job that reads it. Read-only once planned, so every worker
// may consult it.
using InputFiles = std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t>;

struct Plan {
  std::vector<Job> jobs;
  InputFiles inputs;
  platform::NewFileDefaults new_files;  // what a temporary file gets, before it replaces one
};

// One job per input in command-line order, with -r's folders walked for GIF
// files (folder_walk.h), each with its output path: the one output file, the
// same place below the output folder, or NAME.bmp beside the input. An output
// that leads to any input is refused; of several inputs with one output, the
// first keeps it and the later ones are refused; "-" is refused for a
// standard stream the command started without. The files are looked at on up
// to options.jobs threads. Call before any thread that creates files starts.
Plan plan_jobs(const Options& options, const platform::StandardStreams& streams);

// The job whose input is the file found, or kNoInput.
std::size_t input_job_of(const InputFiles& inputs, const platform::FileIdentity& found);

}  // namespace brevlo::cli
