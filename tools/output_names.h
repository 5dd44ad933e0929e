// Where each output goes, and which outputs must not be written because they
// would replace an input or another output of the same run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "job.h"

namespace brevlo::cli {

// The BMP name for a GIF name: a final ".gif" in any letter case becomes
// ".bmp"; any other name gets ".bmp" appended.
std::string bmp_name_for(std::string_view gif_path);

// Decides what -o PATH names, as cp decides for its last operand: with one
// input (and no -r) the output file, unless PATH is an existing folder or ends
// in '/'; otherwise a folder. "-" is standard output. Sets options.output,
// output_dir or to_stdout; returns a usage error, or "" when all is well.
std::string resolve_destination(Options& options);

// One job per input in command-line order, with -r's folders walked for GIF
// files in name order, each with its output path: the one output file, the
// same place below the output folder, or NAME.bmp beside the input. An output
// that leads to any input is refused; of several inputs with one output, the
// first keeps it and the later ones are refused.
std::vector<Job> plan_jobs(const Options& options);

}  // namespace brevlo::cli
