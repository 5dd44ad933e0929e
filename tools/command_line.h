// What the user asked for: the action, the files and the options, read from the
// command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brevlo::cli {

enum class Action { kConvert, kHelp, kVersion, kInfo, kUsageError };

struct Options {
  Action action = Action::kConvert;
  std::vector<std::string> inputs;  // "-" is standard input
  std::string output_path;  // -o PATH, empty without -o; resolve_destination decides what it names
  std::string output;       // the one output file (-o FILE or `brevlo IN.gif OUT.bmp`)
  std::string output_dir;   // the output folder (-o DIR); empty: each output beside its input
  bool to_stdout = false;   // -o -: the BMP goes to standard output
  int jobs = 0;             // -j N; 0: one per processor
  bool force = false;       // --force: replace existing outputs
  bool skip_existing = false;  // -n: leave existing outputs alone, counted as skipped
  bool recursive = false;      // -r: walk folders given as inputs for GIF files
  bool verbose = false;        // -v: one line per converted file
  bool quiet = false;          // -q: report nothing but failures
  bool strict = false;         // --strict: exactly what the library's BREVLO32 accepts
  // Two names were given and the second, though neither a .bmp name nor
  // (maybe) a GIF, is taken as an input: failing, it says how to name an output.
  bool second_may_be_output = false;
  std::string error;  // what was wrong, for kUsageError
};

// Reads argv (with getopt_long, so not reentrant). Any mistake gives
// kUsageError with `error` set; --help, --version and --info win over files
// given with them. Long options are taken only as spelt in full.
Options parse_command_line(int argc, char** argv);

// The name that stands for standard input as an input, and for standard
// output with -o.
inline constexpr std::string_view kStandardStream = "-";

// True when text ends with suffix, letter case aside.
bool ends_with_ignoring_case(std::string_view text, std::string_view suffix);

}  // namespace brevlo::cli
