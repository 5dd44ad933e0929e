// How many LZW codes an image's data holds: the decoder's work is per code
// more than per pixel (a dithered photograph averages under two pixels a code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brevlo::bench {

// The codes of the image whose descriptor starts at image_at in gif, up to
// and including the end code, each clear code counted; 0 when the data is
// not a complete code stream.
std::uint64_t count_lzw_codes(const std::vector<std::uint8_t>& gif, std::size_t image_at);

}  // namespace brevlo::bench
