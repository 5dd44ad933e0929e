#include "giflib_converter.h"

#include <gif_lib.h>

#include <cstdio>
#include <vector>

#include "bmp_headers.h"

namespace brevlo::bench {

namespace {

bool write_bmp(const SavedImage& image, const ColorMapObject& colours, const char* bmp_path) {
  const auto width = static_cast<std::uint32_t>(image.ImageDesc.Width);
  const auto height = static_cast<std::uint32_t>(image.ImageDesc.Height);
  std::vector<std::uint8_t> rgb;
  for (int i = 0; i < colours.ColorCount && i < 256; ++i) {
    rgb.push_back(colours.Colors[i].Red);
    rgb.push_back(colours.Colors[i].Green);
    rgb.push_back(colours.Colors[i].Blue);
  }
  const BmpHeaders headers =
      bmp_headers(width, height, rgb.data(), static_cast<int>(rgb.size() / 3));
  std::FILE* out = std::fopen(bmp_path, "wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(headers.data(), headers.size(), 1, out) == 1;
  const std::uint8_t padding[4] = {};
  const std::uint32_t pad = stride_of(width) - width;
  for (std::uint32_t row = height; ok && row-- > 0;) {
    ok = std::fwrite(image.RasterBits + std::size_t{row} * width, width, 1, out) == 1 &&
         (pad == 0 || std::fwrite(padding, pad, 1, out) == 1);
  }
  return std::fclose(out) == 0 && ok;
}

}  // namespace

bool giflib_convert(const char* gif_path, const char* bmp_path) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(gif_path, &error);
  if (gif == nullptr) return false;
  bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
  if (ok) {
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* colours =
        image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
    ok = colours != nullptr && write_bmp(image, *colours, bmp_path);
  }
  DGifCloseFile(gif, &error);
  return ok;
}

}  // namespace brevlo::bench
