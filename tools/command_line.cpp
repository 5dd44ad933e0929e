#include "command_line.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

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

// A long option, with its value either after '=' or in the next argument.
// Returns how many extra arguments it consumed.
int read_long_option(Options& options, std::string_view arg, const char* next) {
  std::string_view name = arg;
  std::string_view attached;
  bool has_attached = false;
  if (auto equals = arg.find('='); equals != std::string_view::npos) {
    name = arg.substr(0, equals);
    attached = arg.substr(equals + 1);
    has_attached = true;
  }
  const bool takes_value = name == "--output-dir" || name == "--jobs";
  if (!takes_value && has_attached) {
    fail(options, "option '" + std::string(name) + "' takes no value");
    return 0;
  }
  if (takes_value) {
    if (!has_attached && next == nullptr) {
      fail(options, "option '" + std::string(name) + "' needs a value");
      return 0;
    }
    std::string value(has_attached ? attached : std::string_view(next));
    if (name == "--jobs")
      set_jobs(options, value);
    else
      options.output_dir = value;
    return has_attached ? 0 : 1;
  }
  if (name == "--force")
    options.force = true;
  else if (name == "--quiet")
    options.quiet = true;
  else if (name == "--help")
    choose(options, Action::kHelp);
  else if (name == "--version")
    choose(options, Action::kVersion);
  else if (name == "--info")
    choose(options, Action::kInfo);
  else
    fail(options, "unknown option '" + std::string(name) + "'");
  return 0;
}

// A group of short options such as "-qf", "-j4" or "-o out". Returns how many
// extra arguments it consumed.
int read_short_options(Options& options, std::string_view arg, const char* next) {
  for (std::size_t at = 1; at < arg.size(); ++at) {
    const char letter = arg[at];
    if (letter == 'o' || letter == 'j') {
      std::string_view rest = arg.substr(at + 1);
      if (rest.empty() && next == nullptr) {
        fail(options, std::string("option '-") + letter + "' needs a value");
        return 0;
      }
      std::string value(rest.empty() ? std::string_view(next) : rest);
      if (letter == 'j')
        set_jobs(options, value);
      else
        options.output_dir = value;
      return rest.empty() ? 1 : 0;
    }
    if (letter == 'f')
      options.force = true;
    else if (letter == 'q')
      options.quiet = true;
    else if (letter == 'h')
      choose(options, Action::kHelp);
    else
      fail(options, std::string("unknown option '-") + letter + "'");
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
  if (files.size() == 2 && options.output_dir.empty() &&
      ends_with_ignoring_case(files[1], ".bmp") && !ends_with_ignoring_case(files[0], ".bmp")) {
    options.output = files[1];
    files.pop_back();
  }
  options.inputs = std::move(files);
  return options;
}

}  // namespace brevlo::cli
