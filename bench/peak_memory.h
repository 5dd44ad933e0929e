// Peak memory of a separate process.
#pragma once

#include <string>
#include <vector>

namespace brevlo::bench {

struct PeakMemory {
  long kilobytes = -1;  // -1: the program could not be run or did not exit as expected
  bool exact = false;   // false: an upper bound that includes the parent's pages
};

// How the program is run: its output and errors thrown away (silent), and the
// exit status that counts as a run that went as expected.
struct RunAs {
  bool silent = false;
  int exit_status = 0;
};

// Runs program with arguments as a child process and returns the peak resident
// set size of the program itself: its VmHWM, read just before it exits.
//
// The rusage of a child overstates it: a forked child counts the parent's
// pages until it replaces itself with the program, and that peak is kept.
// Only where the child may not be traced is that upper bound returned.
PeakMemory peak_memory(const std::string& program, const std::vector<std::string>& arguments,
                       const RunAs& run_as = {});

}  // namespace brevlo::bench
