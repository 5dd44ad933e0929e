// The report of a run as it goes: one line per failure in the order of the
// inputs whatever order the jobs finish in (so that a run says the same with
// any number of jobs), a line per converted file with -v, notes, the
// progress line on a terminal, and the summary.
#pragma once

#include <cstddef>

#include "command_line.h"
#include "job.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

struct RunReport {
  std::size_t total = 0;     // the jobs of the run, once known
  bool total_known = false;  // every input has been read (a list, a walk)
  std::size_t found = 0;     // the jobs planned so far
  std::size_t finished = 0;  // the jobs ended so far, in any order
  std::size_t converted = 0;
  std::size_t failed = 0;
  std::size_t skipped = 0;
  bool quiet = false;
  bool strict = false;        // converted under --strict
  bool show_skipped = false;  // -n: the summary counts skipped files
  bool verbose = false;       // -v: a line per converted file
  platform::TextStream verbose_to = platform::TextStream::kOutput;
  bool may_show_progress = false;  // on a terminal, without -q
  std::size_t progress_width = 0;  // characters of the progress line now on screen
};

// A report for a run of known_total jobs, or with total_known false for a
// run whose inputs are still to be read.
RunReport start_report(const Options& options, bool stderr_on_terminal, bool total_known,
                       std::size_t known_total);

// Reports the outcome of the next job in the inputs' order: counts it and
// prints its lines. Not thread-safe: the caller serialises calls.
void report_outcome(RunReport& report, const Job& job, const Outcome& outcome);

// Redraws the progress line, for a batch of more than a few files: done of
// the total, or of those found so far until the total is known.
void show_progress(RunReport& report);

// Clears the progress line and, for several files, prints the summary.
void finish_report(RunReport& report);

}  // namespace brevlo::cli
