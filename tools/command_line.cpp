#include "command_line.h"

#include <getopt.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <string_view>

namespace brevlo::cli {

namespace {

constexpr long kMaxJobs = 1024;

// getopt_long's answers beside the option letters: a file name (with the
// leading '-' of the option string, files come back in order, as options do),
// a missing value (with the ':' after it), an unknown option or an unwanted
// value, and options that have no letter.
constexpr int kFileName = 1;
constexpr int kMissingValue = ':';
constexpr int kUnknown = '?';
enum LongOnly : int { kVersion = 256, kInfo, kStrict };

constexpr const char* kShortOptions = "-:o:j:fqhnrv";
constexpr option kLongOptions[] = {
    {"output-dir", required_argument, nullptr, 'o'},
    {"output", required_argument, nullptr, 'o'},
    {"jobs", required_argument, nullptr, 'j'},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"skip-existing", no_argument, nullptr, 'n'},
    {"recursive", no_argument, nullptr, 'r'},
    {"verbose", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, kVersion},
    {"info", no_argument, nullptr, kInfo},
    {"strict", no_argument, nullptr, kStrict},
    {nullptr, 0, nullptr, 0},
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
  errno = 0;
  long jobs = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || jobs < 1 || jobs > kMaxJobs) {
    fail(options, "-j needs a number of jobs from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                      text + "'");
    return;
  }
  options.jobs = static_cast<int>(jobs);
}

void set_output(Options& options, const std::string& path) {
  if (path.empty()) {
    fail(options, "the output name given with -o is empty");
    return;
  }
  options.output_path = path;
}

// Applies a recognised option; value is empty for those that take none.
void apply(Options& options, int option, const char* value) {
  switch (option) {
    case 'o':
      set_output(options, value);
      break;
    case 'j':
      set_jobs(options, value);
      break;
    case 'f':
      options.force = true;
      break;
    case 'q':
      options.quiet = true;
      break;
    case 'n':
      options.skip_existing = true;
      break;
    case 'r':
      options.recursive = true;
      break;
    case 'v':
      options.verbose = true;
      break;
    case kStrict:
      options.strict = true;
      break;
    case 'h':
      choose(options, Action::kHelp);
      break;
    case kVersion:
      choose(options, Action::kVersion);
      break;
    default:
      choose(options, Action::kInfo);
      break;
  }
}

// The name a long option was given by: "--name" of "--name=value".
std::string_view long_name_in(std::string_view arg) {
  return arg.substr(0, arg.find('='));
}

bool is_known_long_option(std::string_view name) {
  return std::any_of(std::begin(kLongOptions), std::end(kLongOptions), [name](const option& known) {
    return known.name != nullptr && name.substr(2) == known.name;
  });
}

// Explains getopt_long's refusal of the option it just read from arg (a
// long option when it starts with "--") or, for a short one, of letter.
std::string refusal(int answer, std::string_view arg, int letter) {
  const bool is_long = arg.rfind("--", 0) == 0;
  const std::string name =
      is_long ? std::string(long_name_in(arg)) : std::string("-") + static_cast<char>(letter);
  if ((is_long && !is_known_long_option(name)) || (!is_long && answer == kUnknown))
    return "unknown option '" + name + "'";
  return "option '" + name + (answer == kMissingValue ? "' needs a value" : "' takes no value");
}

// getopt_long also takes an unambiguous abbreviation of a long option; this
// command takes each long option only as spelt in full.
bool spelt_in_full(std::string_view arg, int long_index) {
  return long_index < 0 || long_name_in(arg).substr(2) == kLongOptions[long_index].name;
}

}  // namespace

bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         strncasecmp(text.substr(text.size() - suffix.size()).data(), suffix.data(),
                     suffix.size()) == 0;
}

Options parse_command_line(int argc, char** argv) {
  Options options;
  std::vector<std::string> files;
  opterr = 0;
  for (;;) {
    const int at = optind;
    int long_index = -1;
    const int answer = ::getopt_long(argc, argv, kShortOptions, kLongOptions, &long_index);
    if (answer == -1) break;
    // A short option's group ("-qf") is still argv[at]; a long option's name
    // is argv[at] whether its value came attached or as the next argument.
    const std::string_view arg = at < argc ? argv[at] : "";
    if (answer == kFileName)
      files.emplace_back(optarg);
    else if (answer == kMissingValue || answer == kUnknown)
      fail(options, refusal(answer, arg, optopt));
    else if (!spelt_in_full(arg, long_index))
      fail(options, "unknown option '" + std::string(long_name_in(arg)) + "'");
    else
      apply(options, answer, optarg);
  }
  for (int i = optind; i < argc; ++i) files.emplace_back(argv[i]);  // after "--"
  if (options.action != Action::kConvert) return options;
  if (files.empty()) {
    fail(options, "no GIF file given");
    return options;
  }
  // `brevlo IN.gif OUT.bmp`: exactly two files, only the second named .bmp.
  const bool two_names = files.size() == 2 && options.output_path.empty();
  if (two_names && ends_with_ignoring_case(files[1], ".bmp") &&
      !ends_with_ignoring_case(files[0], ".bmp")) {
    options.output = files[1];
    files.pop_back();
  } else if (two_names && !options.recursive && !ends_with_ignoring_case(files[1], ".bmp")) {
    options.second_may_be_output = true;
  }
  options.inputs = std::move(files);
  return options;
}

}  // namespace brevlo::cli
