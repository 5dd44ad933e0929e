// The floor under any converter: the time to read the GIF file and write a BMP
// file of the same size with the same pattern of system calls as the
// converter, without decoding anything.
#pragma once

#include <cstdint>

namespace brevlo::bench {

struct IoPattern {
  std::uint32_t read_chunk;      // bytes per read of the GIF
  std::uint32_t rows_per_write;  // bottom-up rows gathered into one seek and write
};

// Reads gif_path to its end and writes a width x height 8-bit BMP of zero
// pixels to bmp_path; true on success.
bool copy_floor(const char* gif_path, const char* bmp_path, std::uint32_t width,
                std::uint32_t height, IoPattern pattern);

}  // namespace brevlo::bench
