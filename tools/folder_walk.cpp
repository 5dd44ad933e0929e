#include "folder_walk.h"

#include <algorithm>

#include "command_line.h"
#include "path_names.h"

namespace brevlo::cli {

namespace {

using platform::FileKind;
using platform::FolderEntry;

bool is_walked(const FolderEntry& entry) {
  return entry.kind == FileKind::kFolder ||
         (entry.leads_to == FileKind::kRegular && is_gif_name(entry.name));
}

void enter_folder(FolderWalk& walk, const std::string& folder, const std::string& below) {
  walk.levels.push_back({folder, below, {}, 0, false});
}

}  // namespace

bool is_gif_name(const std::string& name) {
  return ends_with_ignoring_case(name, ".gif");
}

std::string name_kept_below_output(const std::string& folder) {
  const std::string last = text_of(path_of(folder).filename());
  return last == "." || last == ".." ? std::string() : last;
}

void start_walk(FolderWalk& walk, const std::string& folder) {
  walk.levels.clear();
  walk.failures.clear();
  enter_folder(walk, folder, name_kept_below_output(folder));
}

Walked next_in_walk(FolderWalk& walk, Source& source) {
  for (;;) {
    if (!walk.failures.empty()) {
      source = std::move(walk.failures.back());
      walk.failures.pop_back();
      return Walked::kFile;
    }
    if (walk.levels.empty()) return Walked::kEnd;
    WalkLevel& level = walk.levels.back();
    if (!level.read) return Walked::kFolderToRead;
    if (level.next == level.entries.size()) {
      walk.levels.pop_back();
      continue;
    }
    const FolderEntry& entry = level.entries[level.next++];
    const std::string path = name_in(level.folder, entry.name);
    std::string below = name_in(level.below, entry.name);
    if (entry.kind == FileKind::kFolder) {
      enter_folder(walk, path, below);  // moves the levels: level and entry are stale
      continue;
    }
    source = Source{};
    source.input = path;
    source.path_below_folder = std::move(below);
    source.found_in_folder = true;
    return Walked::kFile;
  }
}

int read_pending_folder(FolderWalk& walk) {
  WalkLevel& level = walk.levels.back();
  platform::FolderListing listing;
  int error = platform::open_folder(level.folder, listing);
  if (error == 0) {
    FolderEntry entry;
    while (platform::read_folder(listing, entry, error))
      if (is_walked(entry)) level.entries.push_back(std::move(entry));
    platform::close_folder(listing);
  }
  if (error != 0 && platform::is_out_of_open_files(error)) {
    level.entries.clear();
    return error;
  }
  std::sort(level.entries.begin(), level.entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  level.read = true;
  if (error != 0) give_up_pending_folder(walk, error);
  return error;
}

void give_up_pending_folder(FolderWalk& walk, int error) {
  WalkLevel& level = walk.levels.back();
  level.read = true;
  Source unreadable;
  unreadable.input = level.folder;
  unreadable.problem = Problem::kInputUnreadable;
  unreadable.system_error = error;
  walk.failures.push_back(std::move(unreadable));
}

}  // namespace brevlo::cli
