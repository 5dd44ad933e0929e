// Everything the command tells people: help, version, the information text,
// usage mistakes, one line per failed file, the progress line and the summary.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "job.h"

namespace brevlo::cli {

void print_help();
void print_version();
// Flushes standard output; when anything written there was lost (a full
// device, a closed pipe), says so on stderr and returns 1, else status.
int finish_standard_output(int status);
// A file name as shown in messages: control characters escaped (\n, \t,
// \x1b ...) so that no name can move the cursor or colour the terminal.
std::string shown_name(const std::string& name);
// Prints "brevlo: <error>" and a hint to --help on stderr.
void print_usage_error(const std::string& error);
// Prints the library's information text; returns the exit status.
int print_info();

// The failure line for jobs[index], without its newline, such as
// "photo.gif: not a GIF file (30004)". Under --strict (strict), a refusal
// that the default conversion would accept also says how to get past it.
std::string describe_failure(const std::vector<Job>& jobs, std::size_t index,
                             const Outcome& outcome, bool strict = false);

// The note for a converted file of several images, such as
// "anim.gif: 12 images; converted the first", or "" for one image.
std::string describe_images(const Job& job, const Outcome& outcome);

// What has been reported of a run so far. Failures are reported in
// command-line order whatever order the jobs finish in, so that a run says the
// same with any number of jobs.
struct Report {
  std::size_t total = 0;
  std::size_t finished = 0;
  std::size_t converted = 0;
  std::size_t failed = 0;
  std::size_t skipped = 0;
  std::size_t next_to_report = 0;  // the first job whose outcome is not yet reported
  std::vector<bool> done;
  bool quiet = false;
  bool strict = false;              // converted under --strict
  bool show_skipped = false;        // -n: the summary counts skipped files
  std::FILE* verbose_to = nullptr;  // -v: where the line per converted file goes
  bool show_progress = false;       // a progress line on the terminal
  std::size_t progress_width = 0;   // characters of the progress line now on screen
};

Report start_report(std::size_t total, const Options& options, bool stderr_on_terminal);

// Records that jobs[index] finished with outcomes[index], prints the failure
// lines that are now due and redraws the progress line. Not thread-safe: the
// caller serialises calls.
void report_finished(Report& report, const std::vector<Job>& jobs,
                     const std::vector<Outcome>& outcomes, std::size_t index);

// Clears the progress line and, for several files, prints the summary.
void finish_report(Report& report);

}  // namespace brevlo::cli
