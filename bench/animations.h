// The benchmark's animations: every frame of a 1000 x 1000 animation of 50
// frames, made once by ImageMagick and kept in the cache folder,
// each beside a still of its first frame.
#pragma once

#include <string>
#include <vector>

namespace brevlo::bench {

struct BenchAnimation {
  std::string name;
  std::string gif_path;
  std::string still_path;  // its first frame alone, a still GIF of the screen's size
};

// Makes (or finds in cache_dir) the animations from the photograph photo_gif:
// 50 views panning over it, and a square of it moving over a still part of
// it, optimised into the rectangles that change; each with one global colour
// table and with a table of each frame's own. Returns an empty list, after
// saying why on stderr, when one cannot be made.
std::vector<BenchAnimation> prepare_animations(const std::string& cache_dir,
                                               const std::string& photo_gif);

// Times every frame of each animation through brevlo_convert_frames, beside
// the still of its first frame through brevlo_convert, best of `rounds`, and
// the peak memory of `brevlo --frames` (program) over it; prints a table.
// Returns 0, or 1 when a conversion fails.
int report_animations(const std::vector<BenchAnimation>& animations, const std::string& program,
                      const std::string& out_dir, int rounds);

}  // namespace brevlo::bench
