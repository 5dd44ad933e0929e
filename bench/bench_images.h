// The benchmark's images, made once by ImageMagick and kept in a cache folder
// between runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brevlo::bench {

struct BenchImage {
  std::string name;
  std::string gif_path;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool interlaced = false;  // stored in the four passes of interlace
  std::uint64_t codes = 0;  // LZW codes of its data, end code included
};

// Makes (or finds in cache_dir) a dithered 256-colour photograph from
// photo_source, a flat graphic and a plasma fractal, each a single
// non-interlaced image with a 256-entry global colour table, and the
// photograph again stored interlaced. Returns an empty list, after saying why
// on stderr, when an image cannot be made.
std::vector<BenchImage> prepare_images(const std::string& cache_dir,
                                       const std::string& photo_source);

// The first of the known places of the photograph that exists, or "".
std::string find_photo_source();

}  // namespace brevlo::bench
