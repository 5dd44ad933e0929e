// Runs the jobs of one command, on several threads when asked to.
#pragma once

#include <vector>

#include "command_line.h"
#include "job.h"
#include "messages.h"

namespace brevlo::cli {

// Worker threads for a run: `requested` (0: one per processor), never more
// than there are jobs, and at least 1.
unsigned worker_count(int requested, std::size_t jobs);

// Converts every job, `workers` at a time, filling outcomes (one per job) and
// reporting each as it finishes. With one worker everything happens on the
// calling thread and no thread is started.
void run_batch(const std::vector<Job>& jobs, std::vector<Outcome>& outcomes, const Options& options,
               unsigned workers, Report& report);

}  // namespace brevlo::cli
