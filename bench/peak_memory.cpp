#include "peak_memory.h"

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

namespace brevlo::bench {

namespace {

// VmHWM of a live process, in kilobytes, or -1.
long high_water_kb(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

[[noreturn]] void run_traced(const std::string& program,
                             const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
  ::raise(SIGSTOP);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

}  // namespace

long peak_rss_kb(const std::string& program, const std::vector<std::string>& arguments) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) run_traced(program, arguments);

  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) return -1;
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC);
  long peak = -1;
  int signal = 0;
  for (;;) {
    if (::ptrace(PTRACE_CONT, child, nullptr, signal) != 0) break;
    if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) break;
    signal = 0;
    const int event = status >> 16;
    if (event == PTRACE_EVENT_EXIT) {
      peak = high_water_kb(child);
    } else if (event == 0 && WSTOPSIG(status) != SIGTRAP) {
      signal = WSTOPSIG(status);  // pass the program's own signals on
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return peak;
}

}  // namespace brevlo::bench
