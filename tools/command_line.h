// What the user asked for: the action, the files and the options, read from the
// command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion.h"

namespace brevlo::cli {

enum class Action { kConvert, kHelp, kVersion, kInfo, kUsageError };

struct Options {
  Action action = Action::kConvert;
  std::vector<std::string> inputs;
  std::string output;      // OUT.bmp of the form `brevlo IN.gif OUT.bmp`; empty otherwise
  std::string output_dir;  // -o DIR; empty: each output beside its input
  int jobs = 0;            // -j N; 0: one per processor
  bool force = false;      // --force: replace existing outputs
  bool quiet = false;      // -q: report nothing but failures
  ConversionOptions conversion = kBroadOptions;  // what the engine accepts
  bool strict = false;  // --strict: exactly what the library's BREVLO32 accepts
  std::string error;    // what was wrong, for kUsageError
};

// Reads argv. Any mistake gives kUsageError with `error` set; --help,
// --version and --info win over files given with them.
Options parse_command_line(int argc, char** argv);

// True when text ends with suffix, letter case aside.
bool ends_with_ignoring_case(std::string_view text, std::string_view suffix);

}  // namespace brevlo::cli
