// Spelling each place in the file system one way, so that "a.bmp",
// "./a.bmp", "dir/../a.bmp" and a name through a linked folder compare equal,
// whether the file is there yet or not: the folder as an absolute path with
// every symbolic link in it followed, then the last name as written. A folder
// not there yet keeps the rest of its path as written, which is the same
// spelling it gets once made, so places stay equal while a run makes folders.
// On Windows the whole place is then spelt as the file system compares names
// (platform::name_as_compared), so that "A.BMP" and "a.bmp" are one place, and
// "C:/x", "C:\x" and "\\?\C:\x" are too.
#pragma once

#include <array>
#include <string>

namespace brevlo::cli {

// A folder's spelling, and whether it was there.
struct ResolvedFolder {
  std::string folder;   // as written (made absolute)
  std::string place;    // the one spelling
  bool exists = false;  // found in the file system, so its path has no link left in it
};

// The folders spelt lately, found by their path as written: a run's names
// come mostly folder by folder, and the cache stays this size whatever the
// number of folders.
struct Places {
  std::string current_folder;  // read once, at the first relative path
  std::array<ResolvedFolder, 256> cache;
};

// The place path leads to.
std::string place_of(Places& places, const std::string& path);

}  // namespace brevlo::cli
