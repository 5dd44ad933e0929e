// Committing files: a BMP is made in a temporary file beside its output and
// takes the output's name only when complete, after a last check that the
// name does not lead to one of the run's inputs.
#pragma once

#include "command_line.h"
#include "job.h"
#include "output_plan.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

// Creates the temporary file the BMP for job is written into, in the folder
// of job.target, making that folder first where the job may (-r -o DIR).
Outcome create_output_file(const Job& job, platform::TemporaryFile& temporary);

// Gives the complete temporary file the name job.target, unless that name now
// leads to the input opened or to another input of the run: a link put there
// since the run was planned is refused, never followed. A replaced file's
// permission bits and owner carry over. Without --force, a file that appeared
// at the name meanwhile stays (skipped with -n). The temporary file is gone
// afterwards, named or removed.
Outcome commit_output(const Job& job, platform::TemporaryFile& temporary,
                      const platform::FileIdentity& opened, const Options& options,
                      const Plan& plan);

}  // namespace brevlo::cli
