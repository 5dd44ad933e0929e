// The 1078 bytes in front of the pixel rows of an 8-bit BMP, built here
// independently of the library's own writer.
#pragma once

#include <array>
#include <cstdint>

namespace brevlo::bench {

inline constexpr std::uint32_t kPixelOffset = 14 + 40 + 1024;

using BmpHeaders = std::array<std::uint8_t, kPixelOffset>;

inline std::uint32_t stride_of(std::uint32_t width) {
  return (width + 3) / 4 * 4;
}

// rgb holds entries red, green, blue triples (entries <= 256); the rest of the
// palette is black.
BmpHeaders bmp_headers(std::uint32_t width, std::uint32_t height, const std::uint8_t* rgb,
                       int entries);

}  // namespace brevlo::bench
