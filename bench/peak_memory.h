// Peak memory of a separate process.
#pragma once

#include <string>
#include <vector>

namespace brevlo::bench {

// Runs program with arguments as a child process and returns the peak resident
// set size of the program itself in kilobytes (its VmHWM, read just before it
// exits), or -1 when it cannot be run or does not exit with 0.
//
// The rusage of a child is no use here: a forked child counts the parent's
// pages until it replaces itself with the program, and that peak is kept.
long peak_rss_kb(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace brevlo::bench
