#include "bmp_headers.h"

namespace brevlo::bench {

namespace {

void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

BmpHeaders bmp_headers(std::uint32_t width, std::uint32_t height, const std::uint8_t* rgb,
                       int entries) {
  BmpHeaders h{};
  h[0] = 'B';
  h[1] = 'M';
  put32(&h[2], kPixelOffset + stride_of(width) * height);
  put32(&h[10], kPixelOffset);
  put32(&h[14], 40);
  put32(&h[18], width);
  put32(&h[22], height);
  h[26] = 1;  // planes
  h[28] = 8;  // bits per pixel
  for (int i = 0; i < entries; ++i) {
    h[54 + 4 * i + 0] = rgb[3 * i + 2];
    h[54 + 4 * i + 1] = rgb[3 * i + 1];
    h[54 + 4 * i + 2] = rgb[3 * i + 0];
  }
  return h;
}

}  // namespace brevlo::bench
