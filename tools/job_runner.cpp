#include "job_runner.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "convert_job.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

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
  // returns true if it should be tried again: another conversion, or the
  // planner, still holds files, or has given its files back since this one
  // entered at `entered`. Only a conversion that could not open its files
  // with nothing else of the run in its way is a failure.
  bool leave(bool out_of_files, std::uint64_t entered) {
    std::lock_guard held(lock_);
    --converting_;
    const bool others_gave_back = ended_ != entered;
    ++ended_;
    bool again = false;
    if (out_of_files && (converting_ > 0 || holding_ > 0 || others_gave_back)) {
      allowed_ = std::max(1U, converting_);
      again = true;
    }
    turn_.notify_all();
    return again;
  }

  // The planner holds files for a moment (a folder it reads), outside any
  // turn, and gives them back.
  void hold_files() {
    std::lock_guard held(lock_);
    ++holding_;
  }

  void release_files() {
    std::lock_guard held(lock_);
    --holding_;
    ++ended_;
  }

 private:
  std::mutex lock_;
  std::condition_variable turn_;
  unsigned allowed_;
  unsigned converting_ = 0;
  unsigned holding_ = 0;
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

// A job planned and not yet reported, and how it ended once it has.
struct JobInFlight {
  Job job;
  Outcome outcome;
  bool finished = false;
};

// What the threads of a run share. Jobs are numbered in the sources' order;
// `in_flight` holds those from number `reported` to `planned`, of which those
// below `taken` have been taken by a converting thread.
struct SharedRun {
  InputSources& sources;
  Plan& plan;
  const Options& options;
  const platform::StandardStreams& streams;
  RunReport& report;
  unsigned workers;
  OpenFileGate gate;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<JobInFlight> in_flight;
  std::uint64_t reported = 0;
  std::uint64_t taken = 0;
  std::uint64_t planned = 0;
  unsigned converting = 0;
  unsigned idle = 0;  // threads waiting for something to do
  std::uint64_t conversions_ended = 0;
  bool planner_waits_for_files = false;  // the planner waits for a conversion to end
  bool planning = false;                 // a thread is planning
  bool sources_ended = false;            // every job is planned
};

// Waits for a conversion to end, so that its descriptors are free; false
// when none is under way.
bool wait_for_a_conversion(SharedRun& run) {
  std::unique_lock held(run.lock);
  if (run.converting == 0) return false;
  const std::uint64_t ended = run.conversions_ended;
  run.planner_waits_for_files = true;
  run.changed.wait(held, [&] { return run.conversions_ended != ended; });
  run.planner_waits_for_files = false;
  return true;
}

// Reads the folder the walk reached, its descriptor counted among those the
// run holds, so that a conversion that finds none left meanwhile is tried
// again. A folder that found none left is read again once a conversion has
// given its descriptors back, and fails only when none was under way.
void read_walked_folder(SharedRun& run) {
  for (;;) {
    run.gate.hold_files();
    const int error = read_pending_folder(run.sources.walk);
    run.gate.release_files();
    if (!platform::is_out_of_open_files(error)) return;
    if (!wait_for_a_conversion(run)) {
      give_up_pending_folder(run.sources.walk, error);
      return;
    }
  }
}

// Plans the next job from the sources; false at their end.
bool plan_next(SharedRun& run, Job& job) {
  Source source;
  for (Walked next; (next = next_source(run.sources, source)) != Walked::kEnd;) {
    if (next == Walked::kFolderToRead) {
      read_walked_folder(run);
      continue;
    }
    if (!source.starts_a_folder) {
      job = plan_job(run.plan, run.options, source, run.streams);
      return true;
    }
    if (!claim_walked_folder(run.plan, run.options, source, job)) {
      abandon_walk(run.sources);
      return true;
    }
  }
  return false;
}

bool window_has_room(const SharedRun& run) {
  return run.planned - run.reported < kJobsInFlight;
}

// Planning, once the window is full, starts again only when a quarter of it
// is free, so that the planner plans in batches instead of waking for every
// job reported.
constexpr std::size_t kPlanningBatch = kJobsInFlight / 4;

bool may_start_planning(const SharedRun& run) {
  return !run.planning && !run.sources_ended &&
         run.planned - run.reported <= kJobsInFlight - kPlanningBatch;
}

// Wakes a thread waiting for something to do, when one is.
void wake_one(SharedRun& run) {
  if (run.idle > 0) run.changed.notify_one();
}

// Plans jobs while the window has room, each one available to convert at
// once. Called with the lock held, which it gives up while it plans.
void plan_ahead(SharedRun& run, std::unique_lock<std::mutex>& held) {
  run.planning = true;
  while (window_has_room(run)) {
    held.unlock();
    Job job;
    const bool more = plan_next(run, job);
    held.lock();
    if (!more) {
      run.sources_ended = true;
      run.report.total = run.planned;
      run.report.total_known = true;
      break;
    }
    run.in_flight.push_back({std::move(job), {}, false});
    ++run.planned;
    run.report.found = run.planned;
    wake_one(run);
  }
  run.planning = false;
  if (run.sources_ended) run.changed.notify_all();
}

// Reports the finished jobs at the front of the window, in order.
void report_in_order(SharedRun& run) {
  while (!run.in_flight.empty() && run.in_flight.front().finished) {
    report_outcome(run.report, run.in_flight.front().job, run.in_flight.front().outcome);
    run.in_flight.pop_front();
    ++run.reported;
  }
}

// Converts the next planned job. Called with the lock held, which it gives up
// while it converts.
void convert_next(SharedRun& run, std::unique_lock<std::mutex>& held) {
  // The deque keeps references to its elements as others are added or removed.
  JobInFlight& next = run.in_flight[run.taken - run.reported];
  ++run.taken;
  ++run.converting;
  held.unlock();
  Outcome outcome =
      convert_holding_files(run.gate, [&] { return convert_job(next.job, run.options, run.plan); });
  held.lock();
  --run.converting;
  ++run.conversions_ended;
  if (run.planner_waits_for_files) run.changed.notify_all();
  next.outcome = std::move(outcome);
  next.finished = true;
  ++run.report.finished;
  const bool could_plan = may_start_planning(run);
  report_in_order(run);
  show_progress(run.report);
  if (!could_plan && may_start_planning(run)) wake_one(run);
}

// Each thread plans when planning may start and another thread converts
// meanwhile (or nothing is left to convert), converts while there are jobs to
// take and room to convert, and otherwise waits; a thread's own conversion
// ending is its cue to look again. A thread ends only once every job is taken
// and no conversion is under way: as a thread ends, the C library gives back
// its memory and may open a file of its own meanwhile (on Linux, once per
// process, to learn how the system lends memory), a descriptor the gate does
// not see, and that a conversion alone in its turn could find missing.
void work_through(SharedRun& run) {
  std::unique_lock held(run.lock);
  for (;;) {
    const bool can_convert = run.taken < run.planned && run.converting < run.workers;
    const bool can_plan = may_start_planning(run);
    if (can_plan && (!can_convert || run.converting > 0)) {
      plan_ahead(run, held);
    } else if (can_convert) {
      convert_next(run, held);
    } else if (run.sources_ended && run.taken == run.planned && run.converting == 0) {
      run.changed.notify_all();  // threads waiting for the last conversion end too
      return;
    } else {
      ++run.idle;
      run.changed.wait(held);
      --run.idle;
    }
  }
}

}  // namespace

unsigned worker_count(int requested, std::size_t jobs_known) {
  const std::size_t wanted =
      requested > 0 ? static_cast<std::size_t>(requested) : platform::processor_count();
  return static_cast<unsigned>(std::max<std::size_t>(1, std::min(wanted, jobs_known)));
}

void run_jobs(InputSources& sources, Plan& plan, const Options& options,
              const platform::StandardStreams& streams, unsigned workers, RunReport& report) {
  SharedRun run{sources, plan, options, streams, report, workers, OpenFileGate(workers),
                {},      {},   {}};
  // Names known from the start are planned in no time; a list or a walk gets
  // a thread of its own, which may wait for the list's writer or the disk.
  const unsigned planner = report.total_known ? 0 : 1;
  platform::run_on_threads(workers + planner, [&run] { work_through(run); });
}

}  // namespace brevlo::cli
