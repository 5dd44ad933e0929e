// Running the jobs of one command, on several threads when asked to.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "command_line.h"
#include "job.h"
#include "output_plan.h"
#include "run_report.h"

namespace brevlo::cli {

// Worker threads for a run: `requested` (0: one per processor), never more
// than there are jobs, and at least 1.
unsigned worker_count(int requested, std::size_t jobs);

// Runs step(i) for every i below count, on up to `workers` threads, the
// calling thread among them; a thread that cannot be started leaves its
// share to those that could, down to the calling thread alone. Steps may run
// in any order and at once.
void for_each_index(std::size_t count, unsigned workers,
                    const std::function<void(std::size_t)>& step);

// Converts every job of the plan, up to `workers` at a time, filling outcomes
// (one per job) and reporting each as it finishes (see for_each_index). A
// conversion that finds no file descriptor left waits for another to finish
// and is tried again, and the run goes on with fewer conversions at a time;
// only one that finds none while no other holds any fails.
void run_jobs(const Plan& plan, std::vector<Outcome>& outcomes, const Options& options,
              unsigned workers, RunReport& report);

}  // namespace brevlo::cli
