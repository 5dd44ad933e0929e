#include "places.h"

#include <filesystem>
#include <functional>
#include <string_view>

#include "path_names.h"
#include "platform/command_platform.h"

namespace brevlo::cli {

namespace {

namespace fs = std::filesystem;
using platform::FileKind;

// The most links followed on the way to a folder, as the kernel allows.
constexpr int kMaxLinks = 40;

// The separators a path is split on by hand: '/', and '\' where the system
// prefers it.
constexpr const char* kSeparators = kWindowsPaths ? "/\\" : "/";

const ResolvedFolder& resolve(Places& places, const std::string& folder, int links_left);

// The folder a symbolic link at link (in the resolved folder `in`) leads to.
ResolvedFolder follow(Places& places, const std::string& link, const fs::path& in, int links_left) {
  std::string leads_to;
  if (links_left == 0 || platform::read_link(link, leads_to) != 0) return {link, link, false};
  return resolve(places, text_of(joined(in, path_of(leads_to))), links_left - 1);
}

// The spelling of folder (absolute) from its parent's, following a link at
// its last name.
ResolvedFolder resolve_uncached(Places& places, const std::string& written, int links_left) {
  const fs::path folder = path_of(written);
  const fs::path last = folder.filename();
  if (!folder.has_relative_path()) return {written, written, true};
  // A copy: resolving may replace the cache entry the parent came from.
  ResolvedFolder parent = resolve(places, text_of(folder.parent_path()), links_left);
  const fs::path in = path_of(parent.place);
  if (last.empty() || last == ".") return parent;
  if (last == "..") {
    const fs::path up = in.has_relative_path() ? in.parent_path() : in;
    return {written, text_of(up), parent.exists};
  }
  const std::string here = text_of(in / last);
  if (!parent.exists) return {written, here, false};
  const platform::FileIdentity found = platform::identify_name(here.c_str());
  if (found.kind == FileKind::kLink) return follow(places, here, in, links_left);
  return {written, here, found.known};
}

const ResolvedFolder& resolve(Places& places, const std::string& folder, int links_left) {
  ResolvedFolder& cached = places.cache[std::hash<std::string>{}(folder) % places.cache.size()];
  if (cached.folder == folder && !cached.place.empty()) return cached;
  ResolvedFolder resolved = resolve_uncached(places, folder, links_left);
  resolved.folder = folder;
  cached = std::move(resolved);
  return cached;
}

// The prefix of a Windows extended-length path ("\\?\C:\x" is "C:\x"), and
// that of a network one ("\\?\UNC\server\share" is "\\server\share").
constexpr std::string_view kLongPrefix = R"(\\?\)";
constexpr std::string_view kNetworkPrefix = "UNC\\";

bool has_long_prefix(const std::string& path) {
  return kWindowsPaths && path.compare(0, kLongPrefix.size(), kLongPrefix) == 0;
}

std::string without_long_prefix(const std::string& path) {
  const std::size_t rest = kLongPrefix.size();
  if (path.compare(rest, kNetworkPrefix.size(), kNetworkPrefix) == 0)
    return "\\\\" + path.substr(rest + kNetworkPrefix.size());
  return path.substr(rest);
}

// The spelling of folder as written (relative to the current folder, or ""
// for it), looked up by that writing first.
const ResolvedFolder& resolve_written(Places& places, const std::string& folder) {
  ResolvedFolder& cached = places.cache[std::hash<std::string>{}(folder) % places.cache.size()];
  if (cached.folder == folder && !cached.place.empty()) return cached;
  const fs::path written = path_of(folder);
  if (!written.is_absolute() && places.current_folder.empty())
    places.current_folder = platform::current_folder();
  fs::path absolute = joined(path_of(places.current_folder), written);
  // Separators as the system prefers them, so that "C:/x" and "C:\x" are one
  // place on Windows.
  ResolvedFolder resolved = resolve(places, text_of(absolute.make_preferred()), kMaxLinks);
  resolved.folder = folder;
  cached = std::move(resolved);
  return cached;
}

// The length of the folder part of path, whose last separator is at
// separator: up to it, or past it for a root ("/", or "C:\" on Windows),
// which keeps its separator.
std::size_t folder_length(const std::string& path, std::size_t separator) {
  const bool drive_root = kWindowsPaths && separator == 2 && path[1] == ':';
  return separator == 0 || drive_root ? separator + 1 : separator;
}

}  // namespace

std::string place_of(Places& places, const std::string& path) {
  // Both spellings of a Windows path are one place.
  if (has_long_prefix(path)) return place_of(places, without_long_prefix(path));
  // Split by hand: most places come from a folder already in the cache, and
  // parsing the path would cost more than the rest of the lookup.
  const std::size_t slash = path.find_last_of(kSeparators);
  const std::string folder =
      slash == std::string::npos ? std::string() : path.substr(0, folder_length(path, slash));
  const char* last = path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
  const std::string& place = resolve_written(places, folder).place;
  const bool ends_in_separator = !place.empty() && is_folder_separator(place.back());
  // Names that differ in letter case alone are one file on Windows.
  return platform::name_as_compared(ends_in_separator ? place + last : place + '/' + last);
}

}  // namespace brevlo::cli
