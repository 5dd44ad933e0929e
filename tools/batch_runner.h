// Runs the jobs of one command, on several threads when asked to.
#pragma once

#include <vector>

#include "command_line.h"
#include "job.h"
#include "messages.h"
#include "output_names.h"

namespace brevlo::cli {

// Worker threads for a run: `requested` (0: one per processor), never more
// than there are jobs, and at least 1.
unsigned worker_count(int requested, std::size_t jobs);

// Converts every job of the plan, up to `workers` at a time, filling outcomes
// (one per job) and reporting each as it finishes. The calling thread is one
// of the workers; a thread that cannot be started leaves the work to those
// that could, down to the calling thread alone.
void run_batch(const Plan& plan, std::vector<Outcome>& outcomes, const Options& options,
               unsigned workers, Report& report);

}  // namespace brevlo::cli
