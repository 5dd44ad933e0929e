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

const ResolvedFolder& resolve(Places& places, const std::string& folder, int links_left);

// The folder a symbolic link at link (in the resolved folder `in`) leads to.
ResolvedFolder follow(Places& places, const fs::path& link, const fs::path& in, int links_left) {
  std::string leads_to;
  if (links_left == 0 || platform::read_link(link.string(), leads_to) != 0)
    return {link.string(), link.string(), false};
  const fs::path next = leads_to;
  return resolve(places, (next.is_absolute() ? next : in / next).string(), links_left - 1);
}

// The spelling of folder (absolute) from its parent's, following a link at
// its last name.
ResolvedFolder resolve_uncached(Places& places, const fs::path& folder, int links_left) {
  const fs::path last = folder.filename();
  if (!folder.has_relative_path()) return {folder.string(), folder.string(), true};
  // A copy: resolving may replace the cache entry the parent came from.
  ResolvedFolder parent = resolve(places, folder.parent_path().string(), links_left);
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

const ResolvedFolder& resolve(Places& places, const std::string& folder, int links_left) {
  ResolvedFolder& cached = places.cache[std::hash<std::string>{}(folder) % places.cache.size()];
  if (cached.folder == folder && !cached.place.empty()) return cached;
  ResolvedFolder resolved = resolve_uncached(places, folder, links_left);
  resolved.folder = folder;
  cached = std::move(resolved);
  return cached;
}

// The spelling of folder as written (relative to the current folder, or ""
// for it), looked up by that writing first.
const ResolvedFolder& resolve_written(Places& places, const std::string& folder) {
  ResolvedFolder& cached = places.cache[std::hash<std::string>{}(folder) % places.cache.size()];
  if (cached.folder == folder && !cached.place.empty()) return cached;
  fs::path absolute = folder;
  if (!absolute.is_absolute()) {
    if (places.current_folder.empty()) places.current_folder = platform::current_folder();
    absolute = fs::path(places.current_folder) / absolute;
  }
  ResolvedFolder resolved = resolve(places, absolute.string(), kMaxLinks);
  resolved.folder = folder;
  cached = std::move(resolved);
  return cached;
}

}  // namespace

std::string place_of(Places& places, const std::string& path) {
  // Split by hand: most places come from a folder already in the cache, and
  // parsing the path would cost more than the rest of the lookup.
  constexpr const char* kSeparators = fs::path::preferred_separator == '/' ? "/" : "/\\";
  const std::size_t slash = path.find_last_of(kSeparators);
  const std::string folder =
      slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
  const char* last = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  const std::string& place = resolve_written(places, folder).place;
  const bool ends_in_separator =
      !place.empty() && place.find_last_of(kSeparators) == place.size() - 1;
  return ends_in_separator ? place + last : place + '/' + last;
}

}  // namespace brevlo::cli
