// Whole files only: every BMP is written into a temporary file in its
// folder and given its name once complete, so a name holds the old file or
// the whole new one, never part of one.
//
// Where the file system allows (O_TMPFILE, with /proc to name the file by its
// descriptor), the temporary file has no name at all while it is written: a
// killed command leaves nothing behind, and nothing needs removing on an
// interrupt. A new output is then named with one link, which never replaces
// anything. Replacing an existing file needs a name, as Linux can rename
// only a file that has one (and renameat2 too): once the BMP is complete and
// the destination checked, a close of a duplicate descriptor reports any
// bytes the file system lost while the old file is still in place, then the
// file is linked to a fresh .brevlo-PID-N.tmp name and renamed over the old
// file at once. That name lives from the link to the end of the rename,
// registered for removal on an interrupt (interrupts.h); only a SIGKILL in
// that moment leaves it behind.
// Elsewhere the temporary file is named .brevlo-PID-N.tmp from the start, and
// registered for as long as it exists.
#pragma once

#include <string>

#include "platform/platform.h"

namespace brevlo::cli {

struct Temporary {
  int fd = -1;
  std::string name;                // empty while the file has no name
  platform::FileIdentity written;  // a nameless file's, once complete
};

// Creates an empty temporary file in target's folder. Returns 0 or the
// system's error number.
int create_temporary_beside(const std::string& target, Temporary& temporary);

// How a complete temporary file takes its name.
enum class Commit {
  kNeverReplace,    // a file that appeared at the name meanwhile stays (EEXIST)
  kReplaceIfThere,  // the name was free when planned; a file there now is replaced
  kReplace,         // a file is there and is replaced
};

// Readies the complete temporary file for its name, so that the caller can
// check target before commit_temporary names it. A file that has a name is
// closed here: a close that fails, which can mean lost bytes, then fails the
// conversion while the old file is still in place. Returns 0 or the system's
// error number; on failure the temporary file is gone.
int close_temporary(Temporary& temporary);

// Then gives it the name target as commit says, and closes it if still
// open. Returns 0 or the system's error number; on failure the temporary file
// is gone, and so is a name given to it just before its close failed.
int commit_temporary(Temporary& temporary, const std::string& target, Commit commit);

// Closes and removes the temporary file.
void discard_temporary(Temporary& temporary);

// Opens a new read-write file with no name, in $TMPDIR or /tmp, which
// disappears when closed (and so on any exit). Returns the descriptor, or -1
// with errno set.
int open_nameless_file();

// The folder open_nameless_file uses, for messages.
std::string nameless_file_folder();

}  // namespace brevlo::cli
