// One conversion: the command's checks in front of the engine, and the way
// the BMP reaches its output.
#pragma once

#include "command_line.h"
#include "job.h"
#include "output_plan.h"

namespace brevlo::cli {

// Converts job.input into job.target with the engine, under the conversion
// options the command line chose, unless planning refused the job, the input
// cannot be opened, or something exists at the output and --force was not
// given. Nothing the user did not ask to replace is touched; a failed
// conversion leaves no new output behind and an existing one unchanged. At the
// moment the BMP is given its name, a name that now leads to any of the run's
// inputs is refused.
Outcome convert_job(const Job& job, const Options& options, const Plan& plan);

// A failure of the command's own.
Outcome failure(Problem problem, int system_error = 0);

bool succeeded(const Outcome& outcome);

}  // namespace brevlo::cli
