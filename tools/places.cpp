#include "places.h"

#include <filesystem>
#include <functional>

#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

namespace fs = std::filesystem;
using platform::FileKind;

// The most links followed on the way to a folder, as the kernel allows.
constexpr int kMaxLinks = 40;

ResolvedFolder resolve(Places& places, const fs::path& folder, int links_left);

// The folder a symbolic link at link (in the resolved folder `in`) leads to.
ResolvedFolder follow(Places& places, const fs::path& link, const fs::path& in, int links_left) {
  std::string leads_to;
  if (links_left == 0 || platform::read_link(link.string(), leads_to) != 0)
    return {link.string(), link.string(), false};
  const fs::path next = leads_to;
  return resolve(places, next.is_absolute() ? next : in / next, links_left - 1);
}

// The spelling of folder (absolute) from its parent's, following a link at
// its last name.
ResolvedFolder resolve_uncached(Places& places, const fs::path& folder, int links_left) {
  const fs::path last = folder.filename();
  if (!folder.has_relative_path()) return {folder.string(), folder.string(), true};
  const ResolvedFolder parent = resolve(places, folder.parent_path(), links_left);
  const fs::path in = parent.place;
  if (last.empty() || last == ".") return parent;
  if (last == "..") {
    const fs::path up = in.has_relative_path() ? in.parent_path() : in;
    return {folder.string(), up.string(), parent.exists};
  }
  const fs::path here = in / last;
  if (!parent.exists) return {folder.string(), here.string(), false};
  const platform::FileIdentity found = platform::identify_name(here.c_str());
  if (found.kind == FileKind::kLink) return follow(places, here, in, links_left);
  return {folder.string(), here.string(), found.known};
}

ResolvedFolder resolve(Places& places, const fs::path& folder, int links_left) {
  const std::string written = folder.string();
  ResolvedFolder& cached = places.cache[std::hash<std::string>{}(written) % places.cache.size()];
  if (cached.folder == written && !cached.place.empty()) return cached;
  ResolvedFolder resolved = resolve_uncached(places, folder, links_left);
  resolved.folder = written;
  cached = resolved;
  return resolved;
}

}  // namespace

std::string place_of(Places& places, const std::string& path) {
  fs::path name = path;
  if (name.is_relative()) {
    if (places.current_folder.empty()) places.current_folder = platform::current_folder();
    name = fs::path(places.current_folder) / name;
  }
  const ResolvedFolder folder = resolve(places, name.parent_path(), kMaxLinks);
  return (fs::path(folder.place) / name.filename()).string();
}

}  // namespace brevlo::cli
