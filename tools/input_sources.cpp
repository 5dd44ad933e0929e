#include "input_sources.h"

#include "path_names.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

Source failed(std::string input, Problem problem, int system_error = 0,
              std::string listed_at = {}) {
  Source source;
  source.input = std::move(input);
  source.problem = problem;
  source.system_error = system_error;
  source.listed_at = std::move(listed_at);
  return source;
}

// The source for a name, or for a folder -r starts to walk.
Source source_for(InputSources& sources, std::string name, bool on_command_line) {
  if (sources.recursive && !name.empty() && name != kStandardStream &&
      platform::identify_path(name.c_str()).kind == platform::FileKind::kFolder) {
    start_walk(sources.walk, name);
    sources.walking = true;
    Source folder;
    folder.path_below_folder = name_kept_below_output(name);
    folder.input = std::move(name);
    folder.starts_a_folder = true;
    return folder;
  }
  Source source;
  source.path_below_folder = text_of(path_of(name).filename());
  source.input = std::move(name);
  source.on_command_line = on_command_line;
  return source;
}

// The source for what the list holds next; false at its end.
bool next_in_list(InputSources& sources, Source& source) {
  NameList& list = sources.list;
  std::string name;
  int error = 0;
  switch (next_listed(list, name, error)) {
    case Listed::kEnd:
      return false;
    case Listed::kReadFailed:
      source = failed(list.path, Problem::kListUnreadable, error);
      return true;
    case Listed::kEmptyName:
      source = failed({}, Problem::kEmptyName, 0, position_in_list(list));
      return true;
    case Listed::kTooLong:
      source =
          failed({}, Problem::kInputUnreadable, platform::kNameTooLong, position_in_list(list));
      return true;
    case Listed::kHoldsNul:
      source = failed({}, Problem::kNameHoldsNul, 0, position_in_list(list));
      return true;
    case Listed::kName:
      break;
  }
  if (name == kStandardStream) {
    source = failed(std::move(name), list.from_standard_input ? Problem::kStandardInputIsTheList
                                                              : Problem::kStandardInputInAList);
    return true;
  }
  source = source_for(sources, std::move(name), false);
  return true;
}

}  // namespace

void start_sources(InputSources& sources, const Options& options) {
  sources.names = options.inputs;
  sources.recursive = options.recursive;
  sources.second_may_be_output = options.second_may_be_output;
  sources.has_list = options.files_from.has_value();
  if (sources.has_list) open_name_list(sources.list, *options.files_from, options.null_separated);
}

Walked next_source(InputSources& sources, Source& source) {
  if (sources.walking) {
    const Walked walked = next_in_walk(sources.walk, source);
    if (walked != Walked::kEnd) return walked;
    sources.walking = false;
  }
  if (sources.next_name < sources.names.size()) {
    const std::size_t at = sources.next_name++;
    source = source_for(sources, std::move(sources.names[at]), true);
    source.may_be_meant_as_output = sources.second_may_be_output && at == 1;
    return Walked::kFile;
  }
  return sources.has_list && next_in_list(sources, source) ? Walked::kFile : Walked::kEnd;
}

void abandon_walk(InputSources& sources) {
  sources.walk = {};
  sources.walking = false;
}

void end_sources(InputSources& sources) {
  if (sources.has_list) close_name_list(sources.list);
}

}  // namespace brevlo::cli
