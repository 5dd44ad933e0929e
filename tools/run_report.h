// The report of a run as it goes: one line per failure in command-line order
// whatever order the jobs finish in (so that a run says the same with any
// number of jobs), a line per converted file with -v, notes, the progress
// line on a terminal, and the summary.
#pragma once

#include <cstddef>
#include <vector>

#include "command_line.h"
#include "job.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

struct RunReport {
  std::size_t total = 0;
  std::size_t finished = 0;
  std::size_t converted = 0;
  std::size_t failed = 0;
  std::size_t skipped = 0;
  std::size_t next_to_report = 0;  // the first job whose outcome is not yet reported
  std::vector<bool> done;
  bool quiet = false;
  bool strict = false;        // converted under --strict
  bool show_skipped = false;  // -n: the summary counts skipped files
  bool verbose = false;       // -v: a line per converted file
  platform::TextStream verbose_to = platform::TextStream::kOutput;
  bool show_progress = false;      // a progress line on the terminal
  std::size_t progress_width = 0;  // characters of the progress line now on screen
};

RunReport start_report(std::size_t total, const Options& options, bool stderr_on_terminal);

// Records that jobs[index] finished with outcomes[index], prints the lines
// that are now due and redraws the progress line. Not thread-safe: the caller
// serialises calls.
void report_finished(RunReport& report, const std::vector<Job>& jobs,
                     const std::vector<Outcome>& outcomes, std::size_t index);

// Clears the progress line and, for several files, prints the summary.
void finish_report(RunReport& report);

}  // namespace brevlo::cli
