// Runs the installed brevlo command the way a person would, and captures what
// it says and how it ends.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "test_files.h"

namespace brevlo::test {

struct CommandRun {
  int status = -1;  // the exit status; -1 when the command did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs the installed command with args in the folder cwd, its output and error
// streams captured to files (so not a terminal).
CommandRun run_brevlo(const std::vector<std::string>& args, const std::string& cwd);

// Runs it with `input` fed through a pipe as standard input, and standard
// output a pipe read into `out`, or the file stdout_path when one is given.
CommandRun run_brevlo_piped(const std::vector<std::string>& args, const std::string& cwd,
                            const Bytes& input, const std::string& stdout_path = "");

// Starts it, sends `signal` after `delay`, and waits; status is the exit
// status, or -1 when the signal ended it before it could handle it.
int interrupt_brevlo(const std::vector<std::string>& args, const std::string& cwd,
                     std::chrono::microseconds delay, int signal);

// Runs it with a pseudo-terminal as its output and error streams; `err` holds
// everything the terminal received.
CommandRun run_brevlo_on_terminal(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace brevlo::test
