// File helpers for tests: a private scratch folder, whole-file reads and
// writes, and the BMP a conversion is expected to produce.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/conversion.h"
#include "gif_writer.h"

namespace brevlo::test {

// A fresh folder under the system's temporary folder (or under `parent`),
// removed when destroyed.
class ScratchDir {
 public:
  ScratchDir();
  explicit ScratchDir(const std::filesystem::path& parent);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
};

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
bool exists(const std::string& path);

// The BMP file for pixels (width * height colour indices, top row first) and a
// 768-byte colour table (entries past its size zero), built independently of
// the library's writer.
Bytes expected_bmp(int width, int height, const Bytes& pixels, const Bytes& colour_table);

// Converts gif bytes through BREVLO32 in dir; returns the result code and
// leaves the output at dir/out.bmp.
int convert_bytes(const ScratchDir& dir, const Bytes& gif);
// The same into the output path given.
int convert_bytes(const ScratchDir& dir, const Bytes& gif, const std::string& output);

// Makes a character device node (major, minor) at path, so that tests never
// use the machine's own /dev. Returns why it could not be made or opened
// (not root, or a file system without devices); empty on success.
std::string make_device(const std::string& path, unsigned major, unsigned minor);

// Converts gif bytes in dir through the engine with options, as the command
// does; returns the result code, fills report and leaves the output at
// dir/out.bmp only on success.
int convert_bytes_with(const ScratchDir& dir, const Bytes& gif, const ConversionOptions& options,
                       ConversionReport& report);

// The same with the GIF read from a pipe, as standard input is: the engine
// must take it front to back, never positioning it.
int convert_stream_with(const ScratchDir& dir, const Bytes& gif, const ConversionOptions& options,
                        ConversionReport& report);

// Runs step in a child process whose files may not grow past
// file_size_limit bytes, ended by SIGALRM after kChildTimeLimitSeconds. Signals
// keep their default actions, so a step that writes past the limit dies by
// SIGXFSZ. Returns step's exit status (its result modulo 256), or minus the
// number of the signal that ended the child.
constexpr unsigned kChildTimeLimitSeconds = 10;
int run_in_child(const std::function<int()>& step,
                 std::uint64_t file_size_limit = ~std::uint64_t{0});

// Memory-backed storage for tests that convert thousands of files, when the
// system has it; otherwise the temporary folder.
std::filesystem::path fast_scratch_parent();

}  // namespace brevlo::test
