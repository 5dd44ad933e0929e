#include "path_names.h"

namespace brevlo::cli {

namespace fs = std::filesystem;

fs::path path_of(std::string_view text) {
  return {std::u8string(text.begin(), text.end())};
}

std::string text_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

bool is_folder_separator(char c) {
  return c == '/' || (kWindowsPaths && c == '\\');
}

std::string name_in(std::string_view folder, std::string_view name) {
  const bool drive_alone = kWindowsPaths && folder.size() == 2 && folder[1] == ':';
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path += folder;
  if (!folder.empty() && !is_folder_separator(folder.back()) && !drive_alone)
    path += static_cast<char>(fs::path::preferred_separator);
  path += name;
  return path;
}

fs::path joined(const fs::path& folder, const fs::path& name) {
  const std::string text = text_of(name);
  const bool network =
      text.size() >= 2 && is_folder_separator(text[0]) && is_folder_separator(text[1]);
  return network || name.is_absolute() ? name : folder / name;
}

}  // namespace brevlo::cli
