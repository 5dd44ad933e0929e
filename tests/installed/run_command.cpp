#include "run_command.h"

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "test_files.h"

namespace brevlo::test {

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

sigset_t interrupt_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterruptSignals) sigaddset(&set, signal);
  return set;
}

std::vector<char*> argv_for(const char* program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

bool become_nobody() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// A limit of one process for the user the command runs as, which it already
// is, so that no thread can start; root is exempt, so the command then runs
// as nobody.
bool forbid_threads() {
  if (::geteuid() == 0 && !become_nobody()) return false;
  const rlimit one{1, 1};
  return ::setrlimit(RLIMIT_NPROC, &one) == 0;
}

// Whether a launch runs the command as nobody: asked to, or kept from
// starting threads as root, who is exempt from the process limit.
bool runs_as_nobody(const Launch& launch) {
  return launch.as_nobody || (launch.no_threads && ::geteuid() == 0);
}

// The folders from the root down to path, then path itself.
std::vector<std::string> steps_to(const std::string& path) {
  const std::filesystem::path whole = std::filesystem::absolute(path).lexically_normal();
  std::filesystem::path at = whole.root_path();
  std::vector<std::string> steps;
  for (const std::filesystem::path& part : whole.relative_path()) {
    if (part.empty()) continue;
    at /= part;
    steps.push_back(at.string());
  }
  if (steps.empty()) steps.push_back(at.string());
  return steps;
}

// The installed command as nobody can run it, found or copied once.
const char* installed_for_nobody(std::string& why) {
  static std::string why_not;
  static const std::string program = program_for_nobody(BREVLO_INSTALLED_COMMAND, why_not);
  why = why_not;
  return program.c_str();
}

// The installed command as the launch runs it. (A test that runs it as
// nobody asks why_nobody_cannot_run_in first; should it not, the installed
// command is tried, and fails to start where nobody cannot reach it.)
const char* installed_command(const Launch& launch) {
  if (!runs_as_nobody(launch) || !can_run_as_nobody()) return BREVLO_INSTALLED_COMMAND;
  std::string why;
  const char* program = installed_for_nobody(why);
  return why.empty() ? program : BREVLO_INSTALLED_COMMAND;
}

// In the child, in the command's folder: gives it what the launch asks for;
// false when it cannot.
bool prepare(const Launch& launch) {
  if (!launch.stdin_path.empty()) {
    const int input = ::open(launch.stdin_path.c_str(), O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0) return false;
    ::close(input);
  }
  for (int fd : launch.closed) ::close(fd);
  // Whatever this process was started with (a shell's background job
  // ignores SIGINT), the command starts with the default actions (SIGXFSZ
  // ends a process that passes its file-size limit), and unblocked.
  for (int signal : kInterruptSignals) std::signal(signal, SIG_DFL);
  std::signal(SIGXFSZ, SIG_DFL);
  if (launch.ignored_signal != 0) std::signal(launch.ignored_signal, SIG_IGN);
  const sigset_t interrupts = interrupt_signals();
  ::sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
  const rlimit size{launch.file_size_limit, launch.file_size_limit};
  if (launch.file_size_limit != RLIM_INFINITY && ::setrlimit(RLIMIT_FSIZE, &size) != 0)
    return false;
  const rlimit files{launch.open_file_limit, launch.open_file_limit};
  if (launch.open_file_limit != RLIM_INFINITY && ::setrlimit(RLIMIT_NOFILE, &files) != 0)
    return false;
  if (launch.as_nobody && !become_nobody()) return false;
  return !launch.no_threads || forbid_threads();
}

// In the child: switch folder and become the command; never returns.
[[noreturn]] void exec_brevlo(std::vector<char*>& argv, const std::string& cwd,
                              const Launch& launch = {}) {
  if (::chdir(cwd.c_str()) == 0 && prepare(launch)) ::execv(argv[0], argv.data());
  ::_exit(127);
}

int wait_status(pid_t child, int options = 0) {
  int status = 0;
  while (::waitpid(child, &status, options) < 0 && errno == EINTR) {
  }
  return status;
}

int exit_status(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes bytes into a pipe whose reader, the command, may have ended without
// reading them all; that ends this process unless SIGPIPE is kept from it.
void feed(int fd, const Bytes& bytes) {
  sigset_t broken_pipe;
  sigemptyset(&broken_pipe);
  sigaddset(&broken_pipe, SIGPIPE);
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &broken_pipe, &before);
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t put = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (put <= 0) break;
    at += static_cast<std::size_t>(put);
  }
  const timespec now{};
  while (::sigtimedwait(&broken_pipe, nullptr, &now) == SIGPIPE) {
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

std::string text_of(const std::string& path) {
  Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// Starts program with its output and error streams captured to files in
// capture; returns its process id.
pid_t start_captured(const char* program, const std::vector<std::string>& args,
                     const std::string& cwd, const ScratchDir& capture, const Launch& launch) {
  std::vector<char*> argv = argv_for(program, args);
  const std::string out_path = capture.path("out.txt");
  const std::string err_path = capture.path("err.txt");
  const pid_t child = ::fork();
  if (child == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
      ::_exit(127);
    exec_brevlo(argv, cwd, launch);
  }
  return child;
}

CommandRun captured(const ScratchDir& capture, int status) {
  return {exit_status(status), text_of(capture.path("out.txt")), text_of(capture.path("err.txt"))};
}

}  // namespace

bool can_run_as_nobody() {
  return ::geteuid() == 0;
}

std::string barrier_for_nobody(const std::string& path, int mode) {
  constexpr int kNotNobody = 255;
  const std::vector<std::string> steps = steps_to(path);
  const pid_t child = ::fork();
  if (child == 0) {
    if (!become_nobody()) ::_exit(kNotNobody);
    for (std::size_t k = 0; k < steps.size(); ++k) {
      const int wanted = k + 1 == steps.size() ? mode : X_OK;
      if (::access(steps[k].c_str(), wanted) != 0)
        ::_exit(static_cast<int>(std::min<std::size_t>(k + 1, kNotNobody - 1)));
    }
    ::_exit(0);
  }
  if (child < 0) return "no process can be started to ask as user 65534";
  const int status = exit_status(wait_status(child));
  if (status == 0) return {};
  if (status < 0 || status == kNotNobody) return "this process cannot become user 65534";
  const std::size_t step = static_cast<std::size_t>(status) - 1;
  if (step + 1 < steps.size()) return "user 65534 cannot enter " + steps[step];
  return "user 65534 cannot access " + path;
}

std::string program_for_nobody(const std::string& program, std::string& why) {
  why = barrier_for_nobody(program, X_OK);
  if (why.empty()) return program;
  namespace fs = std::filesystem;
  constexpr fs::perms kOpen = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
  static std::vector<std::unique_ptr<ScratchDir>> copies;
  const ScratchDir& folder = *copies.emplace_back(std::make_unique<ScratchDir>());
  std::string copy = folder.path(fs::path(program).filename().string());
  std::error_code failed;
  fs::permissions(folder.path(""), kOpen, failed);
  if (!failed) fs::copy_file(program, copy, failed);
  if (!failed) fs::permissions(copy, kOpen, failed);
  if (failed) {
    why += "; copying it failed: " + failed.message();
    return {};
  }
  if (std::string blocked = barrier_for_nobody(copy, X_OK); !blocked.empty()) {
    why += ", nor its copy: " + blocked;
    return {};
  }
  why.clear();
  return copy;
}

std::string why_nobody_cannot_run_in(const std::string& cwd) {
  if (!can_run_as_nobody()) return "switching to user 65534 needs root";
  std::string why;
  installed_for_nobody(why);
  if (!why.empty()) return "the command: " + why;
  why = barrier_for_nobody(cwd, X_OK);
  return why.empty() ? why : "the folder it runs in: " + why;
}

CommandRun run_brevlo(const std::vector<std::string>& args, const std::string& cwd,
                      const Launch& launch) {
  ScratchDir capture;
  const pid_t child = start_captured(installed_command(launch), args, cwd, capture, launch);
  if (child < 0) return {};
  return captured(capture, wait_status(child));
}

CommandRun run_brevlo_stopping(const std::vector<std::string>& args, const std::string& cwd,
                               const std::function<void(int stop)>& at_stop) {
  ScratchDir capture;
  const pid_t child = start_captured(BREVLO_STOPPING_COMMAND, args, cwd, capture, {});
  if (child < 0) return {};
  int status = wait_status(child, WUNTRACED);
  for (int stop = 0; WIFSTOPPED(status); ++stop) {
    at_stop(stop);
    ::kill(child, SIGCONT);
    status = wait_status(child, WUNTRACED);
  }
  return captured(capture, status);
}

CommandRun run_brevlo_piped(const std::vector<std::string>& args, const std::string& cwd,
                            const Bytes& input, const std::string& stdout_path) {
  ScratchDir capture;
  const std::string err_path = capture.path("err.txt");
  std::vector<char*> argv = argv_for(BREVLO_INSTALLED_COMMAND, args);
  int to_child[2];
  int from_child[2];
  if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) return {};
  pid_t child = ::fork();
  if (child == 0) {
    int out = stdout_path.empty() ? from_child[1] : ::open(stdout_path.c_str(), O_WRONLY);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(to_child[0], STDIN_FILENO) < 0 ||
        ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
      ::_exit(127);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
    exec_brevlo(argv, cwd);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  // The command reads all of its input before it writes, so writing first
  // and reading after cannot block both sides.
  std::thread feeder([&input, fd = to_child[1]] {
    feed(fd, input);
    ::close(fd);
  });
  CommandRun run;
  char buffer[4096];
  for (ssize_t got; (got = ::read(from_child[0], buffer, sizeof buffer)) != 0;) {
    if (got > 0) run.out.append(buffer, static_cast<std::size_t>(got));
    if (got < 0 && errno != EINTR) break;
  }
  ::close(from_child[0]);
  feeder.join();
  if (child < 0) return run;
  run.status = exit_status(wait_status(child));
  run.err = text_of(err_path);
  return run;
}

CommandRun run_brevlo_pausing_input(const std::vector<std::string>& args, const std::string& cwd,
                                    const Bytes& first, const std::function<void()>& between,
                                    const Bytes& rest) {
  ScratchDir capture;
  std::vector<char*> argv = argv_for(BREVLO_INSTALLED_COMMAND, args);
  int input[2];
  if (::pipe(input) != 0) return {};
  const std::string out_path = capture.path("out.txt");
  const std::string err_path = capture.path("err.txt");
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(input[0], STDIN_FILENO) < 0 ||
        ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
      ::_exit(127);
    ::close(input[0]);
    ::close(input[1]);
    exec_brevlo(argv, cwd);
  }
  ::close(input[0]);
  if (child < 0) {
    ::close(input[1]);
    return {};
  }
  feed(input[1], first);
  between();
  feed(input[1], rest);
  ::close(input[1]);
  return captured(capture, wait_status(child));
}

int interrupt_brevlo(const std::vector<std::string>& args, const std::string& cwd,
                     std::chrono::microseconds delay, int signal, const Launch& launch,
                     const Bytes& input_after) {
  std::vector<char*> argv = argv_for(installed_command(launch), args);
  int input[2];
  if (::pipe(input) != 0) return -1;
  // Blocked until the child has its own actions for them, so that an early
  // signal waits instead of meeting this process's.
  const sigset_t interrupts = interrupt_signals();
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &interrupts, &before);
  pid_t child = ::fork();
  if (child != 0) ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (child == 0) {
    if (::dup2(input[0], STDIN_FILENO) < 0) ::_exit(127);
    ::close(input[0]);
    ::close(input[1]);
    exec_brevlo(argv, cwd, launch);
  }
  ::close(input[0]);
  if (child < 0) return -1;
  std::this_thread::sleep_for(delay);
  ::kill(child, signal);
  feed(input[1], input_after);
  ::close(input[1]);
  return wait_status(child);
}

CommandRun run_brevlo_on_terminal(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<char*> argv = argv_for(BREVLO_INSTALLED_COMMAND, args);
  int terminal = -1;
  pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) exec_brevlo(argv, cwd);
  CommandRun run;
  if (child < 0) return run;
  // Read until the command has exited and closed its side (EIO on Linux).
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got > 0) {
      run.err.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  ::close(terminal);
  run.status = exit_status(wait_status(child));
  return run;
}

}  // namespace brevlo::test
