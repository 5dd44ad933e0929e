// Reading the names of a list given with --files-from, front to back as they
// arrive, so that the first names convert while the rest are still written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/command_platform.h"

namespace brevlo::cli {

// The longest name a list may hold; no system takes a longer path.
inline constexpr std::size_t kLongestListedName = std::size_t{64} * 1024;

// A list being read; made by open_name_list, ended by close_name_list.
struct NameList {
  platform::FileHandle file = platform::kNoFile;
  std::string path;  // as given; "-" is standard input
  bool from_standard_input = false;
  char separator = '\n';     // or '\0' with --null
  std::vector<char> buffer;  // bytes read and not yet taken
  std::size_t start = 0;     // the first of them
  std::size_t end = 0;       // one past the last
  std::uint64_t items = 0;   // names (and empty ones) taken so far, for positions
  bool at_start = true;      // nothing taken yet
  bool ended = false;        // nothing more will be read: the end, or a failure
  int open_error = 0;        // why the list could not be opened
};

// What next_listed found.
enum class Listed {
  kName,        // a name
  kEmptyName,   // an empty name between two NULs (empty lines are skipped)
  kTooLong,     // a name longer than kLongestListedName, skipped
  kHoldsNul,    // a line holding a NUL byte, which no file name can: skipped
  kReadFailed,  // the list could not be opened or read (error set)
  kEnd,
};

// Opens the list at path ("-": standard input, left open afterwards), its
// names separated by newlines or, with null_separated, by NUL bytes. A list
// that cannot be opened reports that on its first next_listed.
void open_name_list(NameList& list, const std::string& path, bool null_separated);

// Reads the next name of the list, waiting for it when the list is a pipe.
// The last name may lack its separator. Where lists may be Windows text
// (platform::kListsMayBeWindowsText), a byte order mark before the first name
// and a CR before each newline are no part of a name. After kReadFailed or
// kEnd, kEnd.
Listed next_listed(NameList& list, std::string& name, int& error);

// Where the last name taken stands, for lines that cannot show the name: the
// list and the name's number in it ("names.txt:3").
std::string position_in_list(const NameList& list);

void close_name_list(NameList& list);

}  // namespace brevlo::cli
