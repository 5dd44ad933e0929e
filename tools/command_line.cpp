#include "command_line.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace brevlo::cli {

namespace {

constexpr long kMaxJobs = 1024;

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

// Every option, by its long name and its one-letter name (0: none).
struct OptionSpec {
  std::string_view long_name;
  char letter;
  bool takes_value;
};

constexpr OptionSpec kOptionSpecs[] = {
    {"--output-dir", 'o', true}, {"--jobs", 'j', true},     {"--force", 'f', false},
    {"--quiet", 'q', false},     {"--help", 'h', false},    {"--version", 0, false},
    {"--info", 0, false},        {"--output", 0, true},     {"--skip-existing", 'n', false},
    {"--recursive", 'r', false}, {"--verbose", 'v', false}, {"--strict", 0, false},
};

const OptionSpec* find_option(std::string_view long_name, char letter) {
  for (const OptionSpec& spec : kOptionSpecs)
    if ((!long_name.empty() && spec.long_name == long_name) ||
        (letter != 0 && spec.letter == letter))
      return &spec;
  return nullptr;
}

// Applies a recognised option; value is empty for those that take none.
void apply(Options& options, const OptionSpec& spec, const std::string& value) {
  if (spec.long_name == "--jobs")
    set_jobs(options, value);
  else if (spec.long_name == "--output-dir" || spec.long_name == "--output")
    set_output(options, value);
  else if (spec.long_name == "--force")
    options.force = true;
  else if (spec.long_name == "--quiet")
    options.quiet = true;
  else if (spec.long_name == "--skip-existing")
    options.skip_existing = true;
  else if (spec.long_name == "--recursive")
    options.recursive = true;
  else if (spec.long_name == "--verbose")
    options.verbose = true;
  else if (spec.long_name == "--strict")
    options.strict = true;
  else if (spec.long_name == "--help")
    choose(options, Action::kHelp);
  else if (spec.long_name == "--version")
    choose(options, Action::kVersion);
  else
    choose(options, Action::kInfo);
}

// Applies an option that takes a value: the attached text when there is one,
// else the next argument. Returns how many extra arguments it consumed.
int apply_with_value(Options& options, const OptionSpec& spec, const std::string& shown,
                     std::optional<std::string_view> attached, const char* next) {
  if (!attached && next == nullptr) {
    fail(options, "option '" + shown + "' needs a value");
    return 0;
  }
  apply(options, spec, std::string(attached ? *attached : std::string_view(next)));
  return attached ? 0 : 1;
}

// A long option, with its value either after '=' or in the next argument.
// Returns how many extra arguments it consumed.
int read_long_option(Options& options, std::string_view arg, const char* next) {
  std::string_view name = arg;
  std::optional<std::string_view> attached;
  if (auto equals = arg.find('='); equals != std::string_view::npos) {
    name = arg.substr(0, equals);
    attached = arg.substr(equals + 1);
  }
  const OptionSpec* spec = find_option(name, 0);
  if (spec == nullptr) {
    fail(options, "unknown option '" + std::string(name) + "'");
    return 0;
  }
  if (spec->takes_value) return apply_with_value(options, *spec, std::string(name), attached, next);
  if (attached)
    fail(options, "option '" + std::string(name) + "' takes no value");
  else
    apply(options, *spec, {});
  return 0;
}

// A group of short options such as "-qf", "-j4" or "-o out". Returns how many
// extra arguments it consumed.
int read_short_options(Options& options, std::string_view arg, const char* next) {
  for (std::size_t at = 1; at < arg.size(); ++at) {
    const std::string shown = std::string("-") + arg[at];
    const OptionSpec* spec = find_option({}, arg[at]);
    if (spec == nullptr) {
      fail(options, "unknown option '" + shown + "'");
    } else if (spec->takes_value) {
      std::string_view rest = arg.substr(at + 1);
      return apply_with_value(options, *spec, shown,
                              rest.empty() ? std::nullopt : std::optional(rest), next);
    } else {
      apply(options, *spec, {});
    }
  }
  return 0;
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
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      files.emplace_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg[1] == '-') {
      i += read_long_option(options, arg, next);
    } else {
      i += read_short_options(options, arg, next);
    }
  }
  if (options.action != Action::kConvert) return options;
  if (files.empty()) {
    fail(options, "no GIF file given");
    return options;
  }
  // `brevlo IN.gif OUT.bmp`: exactly two files, only the second named .bmp.
  if (files.size() == 2 && options.output_path.empty() &&
      ends_with_ignoring_case(files[1], ".bmp") && !ends_with_ignoring_case(files[0], ".bmp")) {
    options.output = files[1];
    files.pop_back();
  }
  options.inputs = std::move(files);
  return options;
}

}  // namespace brevlo::cli
