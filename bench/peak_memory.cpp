#include "peak_memory.h"

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "child_process.h"

namespace brevlo::bench {

namespace {

constexpr int kTracingRefused = 126;  // exit status of a child that cannot be traced

// VmHWM of a live process, in kilobytes, or -1.
long high_water_kb(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// In the child: its output and errors into the null device.
void silence() {
  const int null = ::open("/dev/null", O_WRONLY);
  if (null < 0) return;
  ::dup2(null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  ::close(null);
}

[[noreturn]] void run_traced(std::vector<char*> argv, const RunAs& run_as) {
  if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(kTracingRefused);
  if (run_as.silent) silence();
  ::raise(SIGSTOP);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

bool exited_as_expected(int status, const RunAs& run_as) {
  return WIFEXITED(status) && WEXITSTATUS(status) == run_as.exit_status;
}

// The program's own VmHWM, read at its exit event; -1 when it fails, or
// -kTracingRefused when it cannot be traced.
long traced_peak(const std::vector<char*>& argv, const RunAs& run_as) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) run_traced(argv, run_as);
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kTracingRefused) return -kTracingRefused;
  if (!WIFSTOPPED(status)) return -1;
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
  return exited_as_expected(status, run_as) ? peak : -1;
}

long rusage_peak(const std::vector<char*>& argv, const RunAs& run_as) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (run_as.silent) silence();
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(child, &status, 0, &usage) != child || !exited_as_expected(status, run_as)) return -1;
  return usage.ru_maxrss;
}

}  // namespace

PeakMemory peak_memory(const std::string& program, const std::vector<std::string>& arguments,
                       const RunAs& run_as) {
  const std::vector<char*> argv = argv_of(program, arguments);
  const long traced = traced_peak(argv, run_as);
  if (traced != -kTracingRefused) return {traced, true};
  return {rusage_peak(argv, run_as), false};
}

}  // namespace brevlo::bench
