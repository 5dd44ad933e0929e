#include "batch_runner.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "convert_job.h"
#include "file_checks.h"

namespace brevlo::cli {

namespace {

// What the workers of one run share: the next job to take, and the lock that
// serialises recording outcomes and writing reports.
struct SharedRun {
  const std::vector<Job>& jobs;
  std::vector<Outcome>& outcomes;
  const Options& options;
  Report& report;
  std::atomic<std::size_t> next_job{0};
  std::mutex reporting;
};

void work_through(SharedRun& run) {
  for (;;) {
    const std::size_t index = run.next_job.fetch_add(1);
    if (index >= run.jobs.size()) return;
    Outcome outcome = convert_job(run.jobs[index], run.options);
    std::lock_guard lock(run.reporting);
    run.outcomes[index] = outcome;
    report_finished(run.report, run.jobs, run.outcomes, index);
  }
}

}  // namespace

unsigned worker_count(int requested, std::size_t jobs) {
  const std::size_t wanted =
      requested > 0 ? static_cast<std::size_t>(requested) : processor_count();
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min(wanted, jobs)));
}

void run_batch(const std::vector<Job>& jobs, std::vector<Outcome>& outcomes, const Options& options,
               unsigned workers, Report& report) {
  outcomes.assign(jobs.size(), Outcome{});
  if (workers <= 1) {
    for (std::size_t index = 0; index < jobs.size(); ++index) {
      outcomes[index] = convert_job(jobs[index], options);
      report_finished(report, jobs, outcomes, index);
    }
    return;
  }
  SharedRun run{jobs, outcomes, options, report, {0}, {}};
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work_through, std::ref(run));
  work_through(run);  // the calling thread is one of the workers
  for (std::thread& thread : threads) thread.join();
}

}  // namespace brevlo::cli
