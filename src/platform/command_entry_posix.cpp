// The command's entry on POSIX systems, which hand over its arguments as
// strings of bytes, as the command takes them.
#include <string>
#include <vector>

#include "platform/command_platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return brevlo::cli::run_command(arguments);
}
