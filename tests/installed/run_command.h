// Runs the installed brevlo command the way a person would, and captures what
// it says and how it ends.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "test_files.h"

namespace brevlo::test {

struct CommandRun {
  int status = -1;  // the exit status; -1 when the command did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// How the command starts, beyond its arguments and folder.
struct Launch {
  std::vector<int> closed;  // standard descriptors it starts without
  std::string stdin_path;   // a file as its standard input, relative to its folder
  bool as_nobody = false;   // run as user and group 65534 (when the tests run as root)
  bool no_threads = false;  // a process limit (RLIMIT_NPROC) that lets no thread start
  rlim_t file_size_limit = RLIM_INFINITY;
  rlim_t open_file_limit = RLIM_INFINITY;  // RLIMIT_NOFILE
  int ignored_signal = 0;                  // a signal it starts with ignored, as under nohup
};

// Runs the installed command with args in the folder cwd, its output and error
// streams captured to files (so not a terminal).
CommandRun run_brevlo(const std::vector<std::string>& args, const std::string& cwd,
                      const Launch& launch = {});

// Runs it with `input` fed through a pipe as standard input, and standard
// output a pipe read into `out`, or the file stdout_path when one is given.
CommandRun run_brevlo_piped(const std::vector<std::string>& args, const std::string& cwd,
                            const Bytes& input, const std::string& stdout_path = "");

// Runs it with standard input a pipe that takes `first`, then waits for
// `between` to return before it takes `rest` and ends; its output and error
// streams are captured as run_brevlo's are.
CommandRun run_brevlo_pausing_input(const std::vector<std::string>& args, const std::string& cwd,
                                    const Bytes& first, const std::function<void()>& between,
                                    const Bytes& rest);

// Starts it with an empty pipe as standard input, sends `signal` after
// `delay`, then writes input_after into the pipe, closes it and waits.
// Returns the wait status (see waitpid).
int interrupt_brevlo(const std::vector<std::string>& args, const std::string& cwd,
                     std::chrono::microseconds delay, int signal, const Launch& launch = {},
                     const Bytes& input_after = {});

// Runs a build of the command made for tests, which stops itself just before
// it checks and names each output; at_stop(n) runs at the nth stop (from 0),
// then the command goes on.
CommandRun run_brevlo_stopping(const std::vector<std::string>& args, const std::string& cwd,
                               const std::function<void(int stop)>& at_stop);

// Runs it with a pseudo-terminal as its output and error streams; `err` holds
// everything the terminal received.
CommandRun run_brevlo_on_terminal(const std::vector<std::string>& args, const std::string& cwd);

// True when a Launch may ask for as_nobody: this process is root.
bool can_run_as_nobody();

// What keeps user 65534 (with no other groups) from path: the first folder on
// the way it cannot enter, or path itself when access(2) with mode fails for
// it. Empty when nothing does. Asked of a child process that becomes that user,
// so this process must be root.
std::string barrier_for_nobody(const std::string& path, int mode);

// A program user 65534 can run: program itself when nothing bars the way,
// otherwise a copy in a scratch folder that user can enter, kept until this
// process ends. Empty, with the reason in why, when neither can be had.
std::string program_for_nobody(const std::string& program, std::string& why);

// Why the installed command cannot run as user 65534 in the folder cwd; empty
// when it can. A checkout in a private folder (a home of mode 0700) is no
// reason: the command then runs from a copy.
std::string why_nobody_cannot_run_in(const std::string& cwd);

}  // namespace brevlo::test
