#include "job_runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "convert_job.h"
#include "platform/command_platform.h"

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

// How many conversions may hold files at once. At first every worker may;
// a conversion that finds no descriptor left lowers the number to the others
// still converting, so the run goes on with fewer files open at a time.
class OpenFileGate {
 public:
  explicit OpenFileGate(unsigned workers) : allowed_(workers) {}

  // Waits for a turn to hold files, and returns the number of conversions
  // that have ended so far.
  std::uint64_t enter() {
    std::unique_lock held(lock_);
    turn_.wait(held, [this] { return converting_ < allowed_; });
    ++converting_;
    return ended_;
  }

  // Ends a turn. When the conversion ran out of descriptors (out_of_files),
  // returns true if it should be tried again: another conversion still holds
  // files, or one has given its files back since this one entered at
  // `entered`. Only a conversion that could not open its files with no other
  // in its way is a failure.
  bool leave(bool out_of_files, std::uint64_t entered) {
    std::lock_guard held(lock_);
    --converting_;
    const bool others_gave_back = ended_ != entered;
    ++ended_;
    bool again = false;
    if (out_of_files && (converting_ > 0 || others_gave_back)) {
      allowed_ = std::max(1U, converting_);
      again = true;
    }
    turn_.notify_all();
    return again;
  }

 private:
  std::mutex lock_;
  std::condition_variable turn_;
  unsigned allowed_;
  unsigned converting_ = 0;
  std::uint64_t ended_ = 0;
};

// Runs convert in a turn of gate, again after each failure for want of
// descriptors that others' files may have caused, unless it wrote frame files
// before it failed: those stay, and the job fails.
template <typename Convert>
Outcome convert_holding_files(OpenFileGate& gate, Convert convert) {
  for (;;) {
    const std::uint64_t entered = gate.enter();
    Outcome outcome = convert();
    const bool out_of_files =
        platform::is_out_of_open_files(outcome.system_error) && outcome.frames.empty();
    if (!gate.leave(out_of_files, entered)) return outcome;
  }
}

}  // namespace

unsigned worker_count(int requested, std::size_t jobs) {
  const std::size_t wanted =
      requested > 0 ? static_cast<std::size_t>(requested) : platform::processor_count();
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min(wanted, jobs)));
}

void for_each_index(std::size_t count, unsigned workers,
                    const std::function<void(std::size_t)>& step) {
  SharedLoop loop{count, step};
  platform::run_on_threads(workers, [&loop] { work_through(loop); });
}

void run_jobs(const Plan& plan, std::vector<Outcome>& outcomes, const Options& options,
              unsigned workers, RunReport& report) {
  outcomes.assign(plan.jobs.size(), Outcome{});
  std::mutex reporting;  // serialises recording outcomes and writing reports
  OpenFileGate gate(workers);
  for_each_index(plan.jobs.size(), workers, [&](std::size_t index) {
    const Outcome outcome =
        convert_holding_files(gate, [&] { return convert_job(plan.jobs[index], options, plan); });
    std::lock_guard lock(reporting);
    outcomes[index] = outcome;
    report_finished(report, plan.jobs, outcomes, index);
  });
}

}  // namespace brevlo::cli
