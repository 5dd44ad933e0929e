#include "batch_runner.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "convert_job.h"
#include "file_checks.h"

namespace brevlo::cli {

namespace {

// What the threads of one parallel loop share: the next index to take.
struct SharedLoop {
  std::size_t count;
  const std::function<void(std::size_t)>& step;
  std::atomic<std::size_t> next{0};
};

void work_through(SharedLoop& loop) {
  for (std::size_t index; (index = loop.next.fetch_add(1)) < loop.count;) loop.step(index);
}

extern "C" void* start_worker(void* loop) {
  work_through(*static_cast<SharedLoop*>(loop));
  return nullptr;
}

}  // namespace

unsigned worker_count(int requested, std::size_t jobs) {
  const std::size_t wanted =
      requested > 0 ? static_cast<std::size_t>(requested) : processor_count();
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min(wanted, jobs)));
}

void for_each_index(std::size_t count, unsigned workers,
                    const std::function<void(std::size_t)>& step) {
  SharedLoop loop{count, step};
  std::vector<pthread_t> threads;
  threads.reserve(workers > 0 ? workers - 1 : 0);
  for (unsigned i = 1; i < workers; ++i) {
    pthread_t thread{};
    // Out of memory or processes: the threads already running do the work.
    if (::pthread_create(&thread, nullptr, start_worker, &loop) != 0) break;
    threads.push_back(thread);
  }
  work_through(loop);
  for (pthread_t thread : threads) ::pthread_join(thread, nullptr);
}

void run_batch(const Plan& plan, std::vector<Outcome>& outcomes, const Options& options,
               unsigned workers, Report& report) {
  outcomes.assign(plan.jobs.size(), Outcome{});
  std::mutex reporting;  // serialises recording outcomes and writing reports
  for_each_index(plan.jobs.size(), workers, [&](std::size_t index) {
    const Outcome outcome = convert_job(plan.jobs[index], options, plan);
    std::lock_guard lock(reporting);
    outcomes[index] = outcome;
    report_finished(report, plan.jobs, outcomes, index);
  });
}

}  // namespace brevlo::cli
