// What the user asked for, read from the command line into one record: the
// action, the inputs, where the BMP files go and how.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevlo::cli {

enum class Action { kConvert, kHelp, kVersion, kInfo, kUsageError };

// Where the BMP files go, decided once from -o, the names and -r.
enum class Destination {
  kBesideInputs,    // each NAME.bmp beside its NAME.gif (no -o)
  kFile,            // the one output file: -o FILE, or `brevlo IN.gif OUT.bmp`; with
                    // --frames, the name -o NAME gives the frames of standard input
  kFolder,          // below the folder -o DIR, made when missing (always with a list)
  kStandardOutput,  // -o -
};

struct Options {
  Action action = Action::kConvert;
  std::vector<std::string> inputs;  // "-" is standard input
  // --files-from FILE: a list of further inputs ("-": read from standard
  // input), one a line or, with --null, NUL-separated.
  std::optional<std::string> files_from;
  bool null_separated = false;
  Destination destination = Destination::kBesideInputs;
  std::string output;          // the file or folder of kFile and kFolder
  int jobs = 0;                // -j N; 0: one per processor
  bool force = false;          // --force: replace existing outputs
  bool skip_existing = false;  // -n: leave existing outputs alone, counted as skipped
  bool recursive = false;      // -r: walk folders given as inputs for GIF files
  bool verbose = false;        // -v: one line per converted file
  bool quiet = false;          // -q: report nothing but failures
  bool strict = false;         // --strict: exactly what the library's BREVLO32 accepts
  bool frames = false;         // --frames: every frame of each GIF, NAME-001.bmp on
  // Two names were given and the second, though neither a .bmp name nor
  // (maybe) a GIF, is taken as an input: failing, it says how to name an output.
  bool second_may_be_output = false;
  std::string error;  // what was wrong, for kUsageError
};

// Reads the arguments after the command's name. Any mistake gives kUsageError
// with `error` set, the first one found; --help, --version and --info win
// over files given with them. Options and names may come in any order, and
// "--" ends the options. Short options group ("-qf") and take a value
// attached or as the next argument ("-j4", "-j 4"); long options take one
// after "=" or as the next argument, and are taken only as spelt in full.
// The destination is decided as cp decides for its last operand: see
// Destination; this looks at the file system (is -o an existing folder, which
// names given with -r are folders) and at whether standard output is a
// terminal. With --frames, -o names the folder the frame files go into, or
// for standard input their name.
Options parse_command_line(const std::vector<std::string_view>& args);

// The name that stands for standard input as an input, and for standard
// output with -o.
inline constexpr std::string_view kStandardStream = "-";

// True when text ends with suffix, letter case (ASCII) aside.
bool ends_with_ignoring_case(std::string_view text, std::string_view suffix);

}  // namespace brevlo::cli
