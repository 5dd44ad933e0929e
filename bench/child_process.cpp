#include "child_process.h"

#include <sys/wait.h>
#include <unistd.h>

namespace brevlo::bench {

std::vector<char*> argv_of(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

bool run_to_completion(const std::string& program, const std::vector<std::string>& arguments) {
  const std::vector<char*> argv = argv_of(program, arguments);
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace brevlo::bench
