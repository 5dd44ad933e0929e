// Running the jobs of one command as their inputs arrive: one thread plans
// the next jobs (reading the list or walking the folders) while others
// convert those already planned, and each outcome is reported in order.
#pragma once

#include <cstddef>

#include "command_line.h"
#include "input_sources.h"
#include "output_plan.h"
#include "run_report.h"

namespace brevlo::cli {

// The most jobs planned and not yet reported at once: what a run holds in
// memory beyond its index, whatever the size of the batch.
inline constexpr std::size_t kJobsInFlight = 4096;

// Conversions at a time for a run: `requested` (0: one per processor), never
// more than there are jobs (jobs_known: the number, when known), and at least 1.
unsigned worker_count(int requested, std::size_t jobs_known);

// Plans and converts every job the sources give, up to `workers` conversions
// at a time, on that many threads and, for a list or a walk, one more that
// plans ahead; a thread that cannot be started leaves its share to the others, down to the calling
// thread alone. Conversion starts with the first job planned. Outcomes are
// reported in the sources' order, whatever order the jobs finish in. A
// conversion that finds no file descriptor left waits for another to finish
// and is tried again, and the run goes on with fewer conversions at a time;
// only one that finds none while no other holds any fails.
void run_jobs(InputSources& sources, Plan& plan, const Options& options,
              const platform::StandardStreams& streams, unsigned workers, RunReport& report);

}  // namespace brevlo::cli
