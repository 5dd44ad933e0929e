#include "folder_walk.h"

#include <algorithm>
#include <filesystem>

#include "command_line.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

using platform::FileKind;

std::string path_in(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + '/' + name;
}

// Collects the GIF files in folder and below it, relative to top, and each
// folder that cannot be read.
void walk_into(const std::string& top, const std::string& folder, std::vector<Source>& found,
               std::vector<Source>& unreadable) {
  platform::FolderListing listing;
  int error = platform::open_folder(folder, listing);
  if (error == 0) {
    platform::FolderEntry entry;
    while (platform::read_folder(listing, entry, error)) {
      const std::string path = path_in(folder, entry.name);
      if (entry.kind == FileKind::kFolder)
        walk_into(top, path, found, unreadable);
      else if (entry.leads_to == FileKind::kRegular && is_gif_name(entry.name))
        found.push_back({path, std::filesystem::path(path).lexically_relative(top).string(), true});
    }
    platform::close_folder(listing);
  }
  if (error != 0) unreadable.push_back({folder, {}, false, error});
}

void sort_by_name(std::vector<Source>& sources) {
  std::sort(sources.begin(), sources.end(),
            [](const Source& a, const Source& b) { return a.input < b.input; });
}

}  // namespace

bool is_gif_name(const std::string& name) {
  return ends_with_ignoring_case(name, ".gif");
}

void walk_folder(const std::string& folder, std::vector<Source>& sources) {
  std::vector<Source> found;
  std::vector<Source> unreadable;
  walk_into(folder, folder, found, unreadable);
  sort_by_name(found);
  sort_by_name(unreadable);
  sources.insert(sources.end(), found.begin(), found.end());
  sources.insert(sources.end(), unreadable.begin(), unreadable.end());
}

}  // namespace brevlo::cli
