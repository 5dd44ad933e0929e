#include "batch_runner.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "convert_job.h"
#include "file_checks.h"

namespace brevlo::cli {

namespace {

// What the workers of one run share: the next job to take, and the lock that
// serialises recording outcomes and writing reports.
struct SharedRun {
  const Plan& plan;
  std::vector<Outcome>& outcomes;
  const Options& options;
  Report& report;
  std::atomic<std::size_t> next_job{0};
  std::mutex reporting;
};

void work_through(SharedRun& run) {
  const std::vector<Job>& jobs = run.plan.jobs;
  for (;;) {
    const std::size_t index = run.next_job.fetch_add(1);
    if (index >= jobs.size()) return;
    const Outcome outcome = convert_job(jobs[index], run.options, run.plan);
    std::lock_guard lock(run.reporting);
    run.outcomes[index] = outcome;
    report_finished(run.report, jobs, run.outcomes, index);
  }
}

extern "C" void* start_worker(void* run) {
  work_through(*static_cast<SharedRun*>(run));
  return nullptr;
}

}  // namespace

unsigned worker_count(int requested, std::size_t jobs) {
  const std::size_t wanted =
      requested > 0 ? static_cast<std::size_t>(requested) : processor_count();
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min(wanted, jobs)));
}

void run_batch(const Plan& plan, std::vector<Outcome>& outcomes, const Options& options,
               unsigned workers, Report& report) {
  outcomes.assign(plan.jobs.size(), Outcome{});
  SharedRun run{plan, outcomes, options, report, {0}, {}};
  std::vector<pthread_t> threads;
  threads.reserve(workers - 1);
  for (unsigned i = 1; i < workers; ++i) {
    pthread_t thread{};
    // Out of memory or processes: the threads already running do the work.
    if (::pthread_create(&thread, nullptr, start_worker, &run) != 0) break;
    threads.push_back(thread);
  }
  work_through(run);
  for (pthread_t thread : threads) ::pthread_join(thread, nullptr);
}

}  // namespace brevlo::cli
