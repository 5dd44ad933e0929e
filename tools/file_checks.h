// Facts about files that the command's messages and choices need, and about
// the process it runs in.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace brevlo::cli {

// What a file that is not a regular one is, for messages: "a pipe", "a
// device", "a socket", "a folder" or "not a regular file".
const char* kind_of_file(platform::FileKind kind);

// True for files written as a stream of bytes rather than stored: character
// devices, pipes and sockets.
bool is_stream(platform::FileKind kind);

// Which standard streams the command was started without.
struct StandardStreams {
  bool input_closed = false;
  bool output_closed = false;
};

// Gives each of descriptors 0, 1 and 2 that is closed a file, so that no file
// the command opens later is taken for a standard stream. A closed stream
// gets /dev/null opened the other way round (standard input for writing,
// standard output and error for reading), so that using it still fails as
// using a closed descriptor does. Returns which were closed.
StandardStreams occupy_standard_descriptors();

// What a file this process creates gets: its owner and group, and the
// permission bits kNewFilePermissions keeps under the umask.
struct NewFileDefaults {
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t permissions = 0;
};

// Reads them. Reading the umask means setting it for a moment, so no thread
// that creates files may run meanwhile.
NewFileDefaults read_new_file_defaults();

bool stderr_is_terminal();
bool stdout_is_terminal();

// True when error says the process or the system has no file descriptor
// left to open a file with.
bool is_out_of_open_files(int error);

// Processors this process may run on (at least 1).
unsigned processor_count();

}  // namespace brevlo::cli
