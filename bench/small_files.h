// A batch of small GIFs through the brevlo command, as a collection of icons
// is converted: per file, starting the conversion, opening, writing and
// committing the files count for more than decoding.
#pragma once

#include <string>
#include <vector>

namespace brevlo::bench {

inline constexpr int kSmallFileCount = 2000;
inline constexpr int kSmallFileSide = 16;  // pixels, width and height

// Makes (or finds in cache_dir) kSmallFileCount GIFs of kSmallFileSide square,
// tiles of the photograph's GIF, each with its 256-entry global colour table.
// Returns their paths, or an empty list, after saying why on stderr, when they
// cannot be made.
std::vector<std::string> prepare_small_files(const std::string& cache_dir,
                                             const std::string& photo_gif);

// The best wall time, in seconds, of `rounds` runs of the brevlo command
// converting every file into out_dir, once per round with each set of extra
// arguments in turn (for example -j 1), out_dir emptied before each run; an
// empty list when a run fails.
std::vector<double> time_small_files(const std::string& brevlo_program,
                                     const std::vector<std::string>& files,
                                     const std::string& out_dir,
                                     const std::vector<std::vector<std::string>>& variants,
                                     int rounds);

}  // namespace brevlo::bench
