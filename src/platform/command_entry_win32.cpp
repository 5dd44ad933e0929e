// The command's entry on Windows: wmain (linked with -municode) takes the
// arguments as the system keeps them, in UTF-16, so that no name is lost to
// the ANSI code page; they reach the command as UTF-8.
#include <string>
#include <vector>

#include "platform/command_platform.h"
#include "platform/unicode_win32.h"

// Windows's shells hand a pattern such as *.gif over as it is; the C
// runtime's start-up expands it into the names it matches, as a POSIX shell
// would, when this is set (a pattern that matches nothing stays as given).
extern "C" {
int _dowildcard = -1;  // NOLINT: the C runtime's own name
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(brevlo::platform::to_utf8(argv[i]));
  return brevlo::cli::run_command(arguments);
}
