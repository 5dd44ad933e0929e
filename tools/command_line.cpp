#include "command_line.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <utility>

#include "folder_walk.h"
#include "path_names.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

constexpr long kMaxJobs = 1024;

enum class Option {
  kOutput,
  kJobs,
  kForce,
  kQuiet,
  kHelp,
  kSkipExisting,
  kRecursive,
  kVerbose,
  kVersion,
  kInfo,
  kStrict,
  kFilesFrom,
  kNull,
  kFrames
};

// Each option's letter (0: none) and long name, and whether it takes a value.
struct Spelling {
  char letter;
  std::string_view name;
  bool takes_value;
  Option option;
};

constexpr Spelling kSpellings[] = {
    {'o', "output-dir", true, Option::kOutput},
    {'o', "output", true, Option::kOutput},
    {'j', "jobs", true, Option::kJobs},
    {'f', "force", false, Option::kForce},
    {'q', "quiet", false, Option::kQuiet},
    {'h', "help", false, Option::kHelp},
    {'n', "skip-existing", false, Option::kSkipExisting},
    {'r', "recursive", false, Option::kRecursive},
    {'v', "verbose", false, Option::kVerbose},
    {0, "version", false, Option::kVersion},
    {0, "info", false, Option::kInfo},
    {0, "strict", false, Option::kStrict},
    {0, "files-from", true, Option::kFilesFrom},
    {'0', "null", false, Option::kNull},
    {0, "frames", false, Option::kFrames},
};

const Spelling* spelling_of_letter(char letter) {
  const auto* found = std::find_if(std::begin(kSpellings), std::end(kSpellings),
                                   [letter](const Spelling& s) { return s.letter == letter; });
  return letter != 0 && found != std::end(kSpellings) ? found : nullptr;
}

const Spelling* spelling_of_name(std::string_view name) {
  const auto* found = std::find_if(std::begin(kSpellings), std::end(kSpellings),
                                   [name](const Spelling& s) { return s.name == name; });
  return found != std::end(kSpellings) ? found : nullptr;
}

// What parsing gathers before the destination is decided.
struct Parsed {
  Options options;
  std::vector<std::string> names;          // files and folders, in order
  std::optional<std::string> output_path;  // -o PATH
};

void fail(Options& options, std::string error) {
  if (options.action == Action::kUsageError) return;  // the first mistake is the one reported
  options.action = Action::kUsageError;
  options.error = std::move(error);
}

void choose(Options& options, Action action) {
  if (options.action == Action::kConvert) options.action = action;
}

void set_jobs(Options& options, const std::string& text) {
  char* end = nullptr;
  // A number out of long's range comes back as its limit, out of ours too.
  const long jobs = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || jobs < 1 || jobs > kMaxJobs) {
    fail(options, "-j needs a number of jobs from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                      text + "'");
    return;
  }
  options.jobs = static_cast<int>(jobs);
}

void set_list(Options& options, std::string_view path) {
  if (options.files_from)
    fail(options, "--files-from can be given once");
  else if (path.empty())
    fail(options, "the list name given with --files-from is empty");
  else
    options.files_from = std::string(path);
}

void set_output(Parsed& parsed, std::string_view path) {
  if (path.empty()) {
    fail(parsed.options, "the output name given with -o is empty");
    return;
  }
  parsed.output_path = std::string(path);
}

// Applies a recognised option; value is empty for those that take none.
void apply(Parsed& parsed, Option option, std::string_view value) {
  Options& options = parsed.options;
  switch (option) {
    case Option::kOutput:
      set_output(parsed, value);
      break;
    case Option::kJobs:
      set_jobs(options, std::string(value));
      break;
    case Option::kForce:
      options.force = true;
      break;
    case Option::kQuiet:
      options.quiet = true;
      break;
    case Option::kSkipExisting:
      options.skip_existing = true;
      break;
    case Option::kRecursive:
      options.recursive = true;
      break;
    case Option::kVerbose:
      options.verbose = true;
      break;
    case Option::kStrict:
      options.strict = true;
      break;
    case Option::kFilesFrom:
      set_list(options, value);
      break;
    case Option::kNull:
      options.null_separated = true;
      break;
    case Option::kFrames:
      options.frames = true;
      break;
    case Option::kHelp:
      choose(options, Action::kHelp);
      break;
    case Option::kVersion:
      choose(options, Action::kVersion);
      break;
    case Option::kInfo:
      choose(options, Action::kInfo);
      break;
  }
}

// Reads "--name" or "--name=value" at args[at]; a value it needs may be the
// next argument, and then `at` moves past it.
void read_long_option(Parsed& parsed, const std::vector<std::string_view>& args, std::size_t& at) {
  const std::string_view arg = args[at];
  const std::size_t equals = arg.find('=');
  const std::string_view name =
      arg.substr(2, equals == std::string_view::npos ? std::string_view::npos : equals - 2);
  const std::string shown = "--" + std::string(name);
  const Spelling* spelling = spelling_of_name(name);
  if (spelling == nullptr) {
    fail(parsed.options, "unknown option '" + shown + "'");
  } else if (!spelling->takes_value) {
    if (equals == std::string_view::npos)
      apply(parsed, spelling->option, {});
    else
      fail(parsed.options, "option '" + shown + "' takes no value");
  } else if (equals != std::string_view::npos) {
    apply(parsed, spelling->option, arg.substr(equals + 1));
  } else if (at + 1 < args.size()) {
    apply(parsed, spelling->option, args[++at]);
  } else {
    fail(parsed.options, "option '" + shown + "' needs a value");
  }
}

// Reads a group of short options such as "-qf" or "-j4" at args[at]; a value
// an option needs is the rest of the group or else the next argument, and
// then `at` moves past it.
void read_short_options(Parsed& parsed, const std::vector<std::string_view>& args,
                        std::size_t& at) {
  const std::string_view group = args[at];
  for (std::size_t k = 1; k < group.size(); ++k) {
    const std::string shown = std::string("-") + group[k];
    const Spelling* spelling = spelling_of_letter(group[k]);
    if (spelling == nullptr) {
      fail(parsed.options, "unknown option '" + shown + "'");
    } else if (!spelling->takes_value) {
      apply(parsed, spelling->option, {});
    } else if (k + 1 < group.size()) {
      apply(parsed, spelling->option, group.substr(k + 1));
      return;
    } else if (at + 1 < args.size()) {
      apply(parsed, spelling->option, args[++at]);
      return;
    } else {
      fail(parsed.options, "option '" + shown + "' needs a value");
      return;
    }
  }
}

// The files and folders given, and the options applied.
Parsed read_arguments(const std::vector<std::string_view>& args) {
  Parsed parsed;
  bool options_ended = false;
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::string_view arg = args[at];
    if (options_ended || arg.size() < 2 || arg[0] != '-')
      parsed.names.emplace_back(arg);  // "-" alone is standard input
    else if (arg == "--")
      options_ended = true;
    else if (arg[1] == '-')
      read_long_option(parsed, args, at);
    else
      read_short_options(parsed, args, at);
  }
  return parsed;
}

// How many of the inputs are standard input.
std::ptrdiff_t standard_input_reads(const Options& options) {
  return std::count(options.inputs.begin(), options.inputs.end(), kStandardStream);
}

constexpr std::string_view kStandardInputListAndInput =
    "standard input (-) cannot be both the list of names (--files-from -) and an input";

// Whether -o PATH names a file rather than a folder: no trailing separator,
// and not an existing folder.
bool names_a_file(const std::string& path) {
  return !is_folder_separator(path.back()) &&
         platform::identify_path(path.c_str()).kind != platform::FileKind::kFolder;
}

// Decides where the BMP files go from -o PATH, as cp decides for its last
// operand: with one input (and no -r or list) the output file, unless PATH is
// an existing folder or ends in a separator; otherwise a folder. "-" is
// standard output. Returns a usage error, or "" when all is well.
std::string decide_destination(Options& options, const std::optional<std::string>& output_path) {
  const auto stdin_reads = standard_input_reads(options);
  if (stdin_reads > 1) return "standard input (-) can be read only once";
  if (stdin_reads > 0 && options.files_from == kStandardStream)
    return std::string(kStandardInputListAndInput);
  const bool one_file = options.inputs.size() == 1 && !options.recursive && !options.files_from;
  if (output_path == kStandardStream) {
    if (options.files_from)
      return "-o - writes one BMP to standard output, and a list may hold many: name a folder "
             "with -o";
    if (!one_file) return "-o - writes one BMP to standard output: give one input and no -r";
    if (platform::is_terminal(platform::TextStream::kOutput))
      return "standard output is a terminal: redirect it, or name a file with -o";
    options.destination = Destination::kStandardOutput;
    return "";
  }
  if (output_path) {
    options.destination =
        one_file && names_a_file(*output_path) ? Destination::kFile : Destination::kFolder;
    options.output = *output_path;
  }
  if (stdin_reads > 0 && options.destination != Destination::kFile)
    return "standard input (-) needs an output file: -o FILE, or -o - for standard output";
  return "";
}

// Under -r -o DIR each folder given keeps its last name below DIR (unless
// given with a trailing '/'), so two folders of one name would share a place
// there. Returns a usage error naming them, or "".
std::string refuse_folders_sharing_a_name(const Options& options) {
  if (!options.recursive || options.destination != Destination::kFolder) return "";
  std::vector<std::pair<std::string, const std::string*>> kept;  // name as compared, folder
  for (const std::string& input : options.inputs) {
    if (input.empty() || input == kStandardStream ||
        platform::identify_path(input.c_str()).kind != platform::FileKind::kFolder)
      continue;
    const std::string name = name_kept_below_output(input);
    if (name.empty()) continue;
    // Names that differ in letter case alone are one folder on Windows.
    std::string compared = platform::name_as_compared(name);
    for (const auto& [earlier_name, earlier] : kept)
      if (earlier_name == compared)
        return "the folders '" + *earlier + "' and '" + input + "' would both go to '" +
               name_in(options.output, name) +
               "' (a trailing / puts a folder's contents there instead)";
    kept.emplace_back(std::move(compared), &input);
  }
  return "";
}

// Decides where the frame files go: beside each GIF, or into the folder -o
// PATH, made when missing; a GIF read from standard input has no name, and
// -o NAME gives its frames theirs. Returns a usage error, or "" when all is
// well.
std::string decide_frames_destination(Options& options,
                                      const std::optional<std::string>& output_path) {
  if (options.strict)
    return "--frames and --strict do not go together: --strict checks the first image as the "
           "library's BREVLO32 converts it";
  if (output_path == kStandardStream)
    return "--frames writes a file for each frame: it cannot write to standard output (-o -)";
  if (standard_input_reads(options) == 0) {
    options.destination = output_path ? Destination::kFolder : Destination::kBesideInputs;
    if (output_path) options.output = *output_path;
    return "";
  }
  if (options.files_from == kStandardStream) return std::string(kStandardInputListAndInput);
  const bool names_frames = output_path && names_a_file(*output_path);
  if (options.inputs.size() != 1 || options.recursive || options.files_from || !names_frames)
    return "--frames reads standard input (-) only as the one input, with -o NAME naming its "
           "frames NAME-001.bmp, NAME-002.bmp, ...";
  options.destination = Destination::kFile;
  options.output = *output_path;
  return "";
}

}  // namespace

bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::equal(suffix.begin(), suffix.end(),
                    text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

Options parse_command_line(const std::vector<std::string_view>& args) {
  Parsed parsed = read_arguments(args);
  Options& options = parsed.options;
  if (options.action != Action::kConvert) return options;
  std::vector<std::string>& files = parsed.names;
  if (options.null_separated && !options.files_from) {
    fail(options, "--null (-0) separates the names of a list: give one with --files-from");
    return options;
  }
  if (files.empty() && !options.files_from) {
    fail(options, "no GIF file given");
    return options;
  }
  // `brevlo IN.gif OUT.bmp`: exactly two files, only the second named .bmp.
  // Frames are named after their GIF, so with --frames every name is an input.
  const bool two_names =
      files.size() == 2 && !parsed.output_path && !options.files_from && !options.frames;
  if (two_names && ends_with_ignoring_case(files[1], ".bmp") &&
      !ends_with_ignoring_case(files[0], ".bmp")) {
    options.destination = Destination::kFile;
    options.output = files[1];
    files.pop_back();
  } else if (two_names && !options.recursive && !ends_with_ignoring_case(files[1], ".bmp")) {
    options.second_may_be_output = true;
  }
  options.inputs = std::move(files);
  std::string error = options.frames ? decide_frames_destination(options, parsed.output_path)
                                     : decide_destination(options, parsed.output_path);
  if (!error.empty())
    fail(options, std::move(error));
  else if (std::string shared = refuse_folders_sharing_a_name(options); !shared.empty())
    fail(options, std::move(shared));
  return parsed.options;
}

}  // namespace brevlo::cli
