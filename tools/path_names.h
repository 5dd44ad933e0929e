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

std::filesystem::path path_of(std::string_view text);

std::string text_of(const std::filesystem::path& path);

// True for a character that separates folders: '/', and on Windows '\' too.
bool is_folder_separator(char c);

// name within folder, joined with the system's separator. A name that stands
// on its own stays as it is: an absolute one, and one that begins with two
// separators (a Windows network path, \\server\share, which the standard
// library of GCC 12 takes for one relative to the current drive).
std::filesystem::path joined(const std::filesystem::path& folder,
                             const std::filesystem::path& name);

}  // namespace brevlo::cli
