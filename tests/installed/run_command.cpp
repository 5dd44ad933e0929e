#include "run_command.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "test_files.h"

namespace brevlo::test {

namespace {

std::vector<char*> argv_for(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(BREVLO_INSTALLED_COMMAND));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In the child: switch folder and become the command; never returns.
[[noreturn]] void exec_brevlo(std::vector<char*>& argv, const std::string& cwd) {
  if (::chdir(cwd.c_str()) == 0) ::execv(argv[0], argv.data());
  ::_exit(127);
}

int wait_for(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string text_of(const std::string& path) {
  Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

CommandRun run_brevlo(const std::vector<std::string>& args, const std::string& cwd) {
  ScratchDir capture;
  const std::string out_path = capture.path("out.txt");
  const std::string err_path = capture.path("err.txt");
  std::vector<char*> argv = argv_for(args);
  pid_t child = ::fork();
  if (child == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
      ::_exit(127);
    exec_brevlo(argv, cwd);
  }
  CommandRun run;
  if (child < 0) return run;
  run.status = wait_for(child);
  run.out = text_of(out_path);
  run.err = text_of(err_path);
  return run;
}

CommandRun run_brevlo_piped(const std::vector<std::string>& args, const std::string& cwd,
                            const Bytes& input, const std::string& stdout_path) {
  ScratchDir capture;
  const std::string err_path = capture.path("err.txt");
  std::vector<char*> argv = argv_for(args);
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
    for (std::size_t at = 0; at < input.size();) {
      ssize_t put = ::write(fd, input.data() + at, input.size() - at);
      if (put <= 0) break;
      at += static_cast<std::size_t>(put);
    }
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
  run.status = wait_for(child);
  run.err = text_of(err_path);
  return run;
}

int interrupt_brevlo(const std::vector<std::string>& args, const std::string& cwd,
                     std::chrono::microseconds delay, int signal) {
  std::vector<char*> argv = argv_for(args);
  pid_t child = ::fork();
  if (child == 0) exec_brevlo(argv, cwd);
  if (child < 0) return -2;
  std::this_thread::sleep_for(delay);
  ::kill(child, signal);
  return wait_for(child);
}

CommandRun run_brevlo_on_terminal(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<char*> argv = argv_for(args);
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
  run.status = wait_for(child);
  return run;
}

}  // namespace brevlo::test
