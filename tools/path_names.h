// Paths as the command holds them, strings of UTF-8 on Windows and of the
// system's bytes on POSIX (command_platform.h), taken apart and put together
// with the standard library's paths. A std::filesystem::path made from a
// std::string, or turned back into one, goes through the ANSI code page on
// Windows, which loses every character outside it (日本.gif); these go
// through char8_t, which Windows reads as UTF-8 and POSIX keeps byte for byte.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brevlo::cli {

// True where '\' separates folders too and a path may begin with a drive
// ("C:"): on Windows.
inline constexpr bool kWindowsPaths = std::filesystem::path::preferred_separator == '\\';

std::filesystem::path path_of(std::string_view text);

std::string text_of(const std::filesystem::path& path);

// True for a character that separates folders: '/', and on Windows '\' too.
bool is_folder_separator(char c);

// name within folder, as text: the system's separator goes between them
// unless folder is empty or ends in a separator (or, on Windows, is a drive
// alone, "C:", whose names are relative to that drive's current folder). For
// a name that does not stand on its own, such as a name read from a folder,
// and cheaper than joined, since no path is taken apart.
std::string name_in(std::string_view folder, std::string_view name);

// name within folder, joined with the system's separator. A name that stands
// on its own stays as it is: an absolute one, and one that begins with two
// separators (a Windows network path, \\server\share, which the standard
// library of GCC 12 takes for one relative to the current drive).
std::filesystem::path joined(const std::filesystem::path& folder,
                             const std::filesystem::path& name);

}  // namespace brevlo::cli
