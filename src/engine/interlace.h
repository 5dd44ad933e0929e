// The order in which an interlaced GIF image stores its rows: every 8th row
// from row 0, every 8th from row 4, every 4th from row 2, then every 2nd from
// row 1. A pass that starts past the image's last row holds no row.
#pragma once

#include <cstdint>

namespace brevlo {

struct InterlacePass {
  std::uint32_t start;
  std::uint32_t step;
};
inline constexpr InterlacePass kInterlacePasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

// The first pass's rows lie every kFirstPassStep rows from the top.
inline constexpr std::uint32_t kFirstPassStep = kInterlacePasses[0].step;

// The image row (0 = top) of the row an interlaced image of the given height
// stores at position `stored` (0 = the first). A position past the last row
// gives height.
constexpr std::uint32_t interlaced_row(std::uint32_t stored, std::uint32_t height) {
  for (const InterlacePass& pass : kInterlacePasses) {
    const std::uint32_t rows =
        pass.start < height ? (height - pass.start + pass.step - 1) / pass.step : 0;
    if (stored < rows) return pass.start + stored * pass.step;
    stored -= rows;
  }
  return height;
}

}  // namespace brevlo
