// Running another program from the benchmark.
#pragma once

#include <string>
#include <vector>

namespace brevlo::bench {

// The argument vector execv takes: program, the arguments, a null pointer.
// It points into the strings given, which must outlive it.
std::vector<char*> argv_of(const std::string& program, const std::vector<std::string>& arguments);

// Runs program with arguments, its output and errors as the benchmark's, and
// waits for it; true when it exits with 0.
bool run_to_completion(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace brevlo::bench
