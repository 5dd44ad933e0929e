// The line a person reads for each job that did not convert: one table of the
// engine's reasons, with the result code, the words and the way past a
// --strict refusal, and one of the command's own problems (names, skips and
// the files it opens).
#pragma once

#include <cstddef>
#include <string>

#include "job.h"

namespace brevlo::cli {

// The failure line for job, without its newline, such as
// "photo.gif: not a GIF file (30004)". Under --strict (strict), a refusal
// that the default conversion would accept also says how to get past it.
std::string describe_failure(const Job& job, const Outcome& outcome, bool strict);

}  // namespace brevlo::cli
