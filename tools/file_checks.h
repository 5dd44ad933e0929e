// The few questions the command asks the file system before it lets the
// engine write anything, and facts about the process it runs in.
#pragma once

#include <cstdint>
#include <string>

namespace brevlo::cli {

// Which file a path leads to, following symbolic links; equal identities mean
// one file, whatever the names (hard and symbolic links included).
struct FileIdentity {
  bool exists = false;
  bool is_folder = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

FileIdentity identify(const std::string& path);

// What a non-regular file is, for messages: "a pipe", "a device", "a
// socket", "a folder" or "not a regular file". file_type is st_mode's type bits.
const char* kind_of_file(unsigned file_type);

// True for files written as a stream of bytes rather than stored: character
// devices, pipes and sockets.
bool is_stream(unsigned file_type);

// The name a path finally leads to once every symbolic link on the way is
// followed, even when that name does not exist yet; path itself when it is
// not a link. Replacing this name keeps the links.
std::string final_target(const std::string& path);

bool stderr_is_terminal();
bool stdout_is_terminal();

// Processors this process may run on (at least 1).
unsigned processor_count();

}  // namespace brevlo::cli
