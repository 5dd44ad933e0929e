// Whole files only: every output is written under a temporary name beside it
// and renamed into place once complete. The temporary names of conversions in
// flight are known to a signal handler, which removes them when SIGINT,
// SIGTERM or SIGHUP ends the command, so an interrupt leaves no temporary file
// and no half-written output behind.
#pragma once

#include <string>

namespace brevlo::cli {

// Installs the handler for SIGINT, SIGTERM, SIGHUP and SIGPIPE: it removes every
// temporary file still registered and exits with 128 + the signal's number.
void remove_temporaries_on_interrupt();

// A temporary file being written, registered for removal on an interrupt.
struct Temporary {
  int fd = -1;
  int slot = -1;
  std::string name;
};

// Creates a new file beside target (in target's folder) with the given
// permission bits (before the umask) and registers its name. Returns 0 or the
// system's error number (EMFILE when more files are in flight than the table
// holds).
int create_temporary_beside(const std::string& target, unsigned mode, Temporary& temporary);

// Gives the complete temporary file the name target and unregisters it; with
// replace false, a file that meanwhile appeared at target is never replaced
// (EEXIST). On failure the temporary file is removed. Returns 0 or the
// system's error number. The descriptor must be closed already.
int commit_temporary(Temporary& temporary, const std::string& target, bool replace);

// Closes (when still open), removes and unregisters the temporary file.
void discard_temporary(Temporary& temporary);

// Opens a new read-write file with no name, in $TMPDIR or /tmp, which
// disappears when closed (and so on any exit). Returns the descriptor, or -1
// with errno set.
int open_nameless_file();

}  // namespace brevlo::cli
