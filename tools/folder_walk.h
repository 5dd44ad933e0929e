// Walking the folders given with -r for the GIF files below them, a folder at
// a time as the run goes: depth first, each folder's names in byte order, so
// that "first" among files with one output means first in that order.
#pragma once

#include <string>
#include <vector>

#include "job.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

// One folder of the walk: once read, its GIF files and folders, sorted by
// name.
struct WalkLevel {
  std::string folder;  // its path, as the walk names it
  std::string below;   // its path below the output folder
  std::vector<platform::FolderEntry> entries;
  std::size_t next = 0;  // the next entry to take
  bool read = false;
};

// A walk under way; started by start_walk. It holds the folders on the way
// down to the one being read, never the whole tree.
struct FolderWalk {
  std::vector<WalkLevel> levels;
  std::vector<Source> failures;  // folders that could not be read, not yet reported
};

// What next_in_walk found.
enum class Walked {
  kFile,          // a GIF file, or a folder that could not be read
  kFolderToRead,  // the walk needs the folder it reached read: read_pending_folder
  kEnd,
};

// True for a name ending in ".gif", in any letter case.
bool is_gif_name(const std::string& name);

// The name a folder given with -r keeps below -o DIR, by rsync's rule: its
// last name ("x/pics" keeps "pics"), or "" when it is given with a trailing
// "/" (or as ".", ".." or "/"), whose contents then go straight into DIR.
std::string name_kept_below_output(const std::string& folder);

// Starts walking folder, which replaces any walk under way.
void start_walk(FolderWalk& walk, const std::string& folder);

// The next GIF file of the walk, or a folder that could not be read (by its
// own name, before what could be read of it), in walk order. Symbolic links
// to folders are not followed; links to files are taken like the files.
Walked next_in_walk(FolderWalk& walk, Source& source);

// Reads the folder the walk reached. Returns 0, or the system's error number:
// a folder that cannot be read, or read to its end, is then reported by the
// walk, except one that found no descriptor left, which stays to be read
// again or given up (give_up_pending_folder).
int read_pending_folder(FolderWalk& walk);

// Reports the folder the walk reached as unreadable, for error, and goes on.
void give_up_pending_folder(FolderWalk& walk, int error);

}  // namespace brevlo::cli
