// Walking the folders given with -r for the GIF files below them.
#pragma once

#include <string>
#include <vector>

namespace brevlo::cli {

// An input and where its output goes below an output folder: its file name,
// or for a file found by -r its path below the folder given. A folder that
// could not be read is a source too, which reports it.
struct Source {
  std::string input;
  std::string path_below_folder;
  bool found_in_folder = false;
  int system_error = 0;  // why the folder could not be read
};

// True for a name ending in ".gif", in any letter case.
bool is_gif_name(const std::string& name);

// Appends to sources the GIF files in folder and below it, in name order,
// then each folder that cannot be read, in name order too; the walk goes on
// beside such a folder. Symbolic links to folders are not followed; links to
// files are taken like the files.
void walk_folder(const std::string& folder, std::vector<Source>& sources);

}  // namespace brevlo::cli
