// The few questions the command asks the file system before it lets the
// library write anything, and facts about the process it runs in.
#pragma once

#include <cstdint>
#include <string>

namespace brevlo::cli {

// Which file a path leads to, following symbolic links; equal identities mean
// one file, whatever the names (hard and symbolic links included).
struct FileIdentity {
  bool exists = false;
  bool is_folder = false;
  bool is_regular = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

FileIdentity identify(const std::string& path);
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Opens path for reading and closes it again. Returns 0 when that works and
// path is not a folder, otherwise the system's error number (EISDIR for a
// folder).
int check_readable(const std::string& path);

// Creates path as a new empty file, failing when anything already exists
// there, so that no other writer's file can be replaced between the check and
// the conversion. Returns 0 or the system's error number (EEXIST when taken).
int reserve_new_file(const std::string& path);

// A name beside path that no other file has and no other job of this process
// will choose, for writing a replacement before it takes path's place.
std::string temporary_name_beside(const std::string& path);

// Moves the file at from to the name to in one step, replacing what was there.
// Returns 0 or the system's error number.
int move_into_place(const std::string& from, const std::string& to);

void remove_file(const std::string& path);

// True when the file at path starts with a GIF signature ("GIF8", a version
// character, "a").
bool starts_like_gif(const std::string& path);

bool stderr_is_terminal();

// Processors this process may run on (at least 1).
unsigned processor_count();

}  // namespace brevlo::cli
