// Batches of many names through the brevlo command on a memory file system:
// the peak memory and the time per file of one run over N names, given in a
// list (--files-from) and found by walking their folders (-r), so that what a
// run holds per name shows beside what it holds in all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brevlo::bench {

// What is in each of the N files: a small GIF the command converts, or
// nothing, which it refuses as no GIF once its output file is begun (a
// million real conversions would take gigabytes of /dev/shm for their files).
enum class NameContent { kGif, kEmpty };

struct NamesBatch {
  std::size_t count;
  NameContent content;
};

// Makes each batch in turn below dir (files in folders of 1000, and the
// NUL-separated list of their paths), runs brevlo_program over it both ways
// into a folder there, prints a table row per run (peak memory in all and per
// name, time per name) and removes everything it made. A way the command
// does not know (an older one without --files-from) is shown as such.
// Returns 0, or 1 after saying why when the files cannot be made.
int report_many_names(const std::string& brevlo_program, const std::string& dir,
                      const std::vector<NamesBatch>& batches);

}  // namespace brevlo::bench
