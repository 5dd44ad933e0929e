// The inputs of a run in the order they are converted and reported: the
// names on the command line, each folder among them walked in its place with
// -r, then the names of the list given with --files-from, read as they come,
// with -r walking the folders among them too.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"
#include "folder_walk.h"
#include "job.h"
#include "name_list.h"

namespace brevlo::cli {

struct InputSources {
  std::vector<std::string> names;  // from the command line
  std::size_t next_name = 0;
  bool recursive = false;
  bool second_may_be_output = false;  // Options::second_may_be_output
  bool has_list = false;
  NameList list;
  FolderWalk walk;
  bool walking = false;
};

// Starts with the first name; a list is opened at once, before any
// conversion holds descriptors.
void start_sources(InputSources& sources, const Options& options);

// The next input, or a problem in its place: a folder or list that cannot be
// read, a name from a list that cannot be one. A folder given by name comes
// first as itself (starts_a_folder), then its files. kFolderToRead: the walk
// needs a folder read first (read_pending_folder in folder_walk.h, on
// sources.walk).
Walked next_source(InputSources& sources, Source& source);

// Leaves the folder whose walk just started unwalked.
void abandon_walk(InputSources& sources);

// Closes the list, when one was read.
void end_sources(InputSources& sources);

}  // namespace brevlo::cli
