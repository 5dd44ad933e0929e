// Layout of the 8-bit palettised BMP file the converter writes. Every field is
// little-endian.
//
//   offset  size  field            value
//   0       2     bfType           "BM"
//   2       4     bfSize           stride * height + 1078
//   6       2     bfReserved1      0
//   8       2     bfReserved2      0
//   10      4     bfOffBits        1078
//   14      4     biSize           40
//   18      4     biWidth          image width
//   22      4     biHeight         image height, positive: rows stored bottom-up
//   26      2     biPlanes         1
//   28      2     biBitCount       8
//   30      4     biCompression    0 (uncompressed)
//   34      4     biSizeImage      0
//   38      4     biXPelsPerMeter  0
//   42      4     biYPelsPerMeter  0
//   46      4     biClrUsed        0 (all 256 entries)
//   50      4     biClrImportant   0
//   54      1024  palette          256 entries of blue, green, red, 0
//   1078    stride * height        pixel rows, one colour index per byte
//
// A row is the image's width in colour indices followed by zero bytes up to the
// stride, the next multiple of 4. GIF row k (0 = top) is stored at
// 1078 + (height - 1 - k) * stride.
#pragma once

#include <array>
#include <cstdint>

namespace brevlo {

inline constexpr std::uint32_t kBmpFileHeaderSize = 14;
inline constexpr std::uint32_t kBmpInfoHeaderSize = 40;
inline constexpr std::uint32_t kPaletteEntries = 256;
inline constexpr std::uint32_t kPaletteSize = kPaletteEntries * 4;
inline constexpr std::uint32_t kBmpPixelOffset =
    kBmpFileHeaderSize + kBmpInfoHeaderSize + kPaletteSize;
static_assert(kBmpPixelOffset == 1078);

// The offsets, in the table above, of the fields the writer sets; every other
// field is 0.
inline constexpr std::uint32_t kTypeAt = 0;          // bfType
inline constexpr std::uint32_t kFileSizeAt = 2;      // bfSize
inline constexpr std::uint32_t kPixelOffsetAt = 10;  // bfOffBits
inline constexpr std::uint32_t kInfoSizeAt = 14;     // biSize
inline constexpr std::uint32_t kWidthAt = 18;        // biWidth
inline constexpr std::uint32_t kHeightAt = 22;       // biHeight
inline constexpr std::uint32_t kPlanesAt = 26;       // biPlanes
inline constexpr std::uint32_t kBitCountAt = 28;     // biBitCount
inline constexpr std::uint32_t kPaletteAt = kBmpFileHeaderSize + kBmpInfoHeaderSize;
static_assert(kPaletteAt == 54);

inline constexpr std::uint16_t kBmpType = 0x4D42;  // "BM"
inline constexpr std::uint16_t kPlanes = 1;
inline constexpr std::uint16_t kBitsPerPixel = 8;

// The BMP palette: 256 entries of blue, green, red and a zero byte.
using Palette = std::array<std::uint8_t, kPaletteSize>;

// The palette of a GIF colour table: its red, green, blue triples, `entries`
// of them at rgb, become blue, green, red, 0 entries; the entries past them
// stay black.
inline Palette palette_from(const std::uint8_t* rgb, std::uint32_t entries) {
  Palette palette{};
  for (std::uint32_t i = 0; i < entries && i < kPaletteEntries; ++i) {
    palette[4 * i + 0] = rgb[3 * i + 2];  // blue
    palette[4 * i + 1] = rgb[3 * i + 1];  // green
    palette[4 * i + 2] = rgb[3 * i + 0];  // red
  }
  return palette;
}

// Bytes in one pixel row: the width rounded up to a multiple of 4.
constexpr std::uint64_t stride_for(std::uint32_t width) {
  return (std::uint64_t{width} + 3) / 4 * 4;
}

// File offset of GIF row k (0 = top) in an image of the given height.
constexpr std::uint64_t row_offset(std::uint64_t stride, std::uint32_t height, std::uint32_t row) {
  return kBmpPixelOffset + std::uint64_t{height - 1 - row} * stride;
}

// Finished rows are gathered up to about this many bytes before they are
// written: consecutive GIF rows lie back to back in the file (in reverse
// order), so one positioned write places the whole run. The system's cost of
// a write is mostly per call, so a few large ones beat many small ones.
inline constexpr std::uint64_t kRowBatchBytes = std::uint64_t{256} * 1024;

// An interlaced image's pixel area is filled, zero but for its first pass's
// rows, as that pass goes only up to this size: an ordinary photograph's,
// not that of a huge image a few hundred bytes of GIF describe.
inline constexpr std::uint64_t kZeroFillLimit = std::uint64_t{64} * 1024 * 1024;

// Rows gathered per write: at least one, at most the image's height.
constexpr std::uint32_t rows_per_batch(std::uint64_t stride, std::uint32_t height) {
  const std::uint64_t fit = kRowBatchBytes / stride;
  if (fit < 1) return 1;
  return fit < height ? static_cast<std::uint32_t>(fit) : height;
}

// A frame with more colours than a palette holds is a 24-bit BMP: the headers
// above but for these fields, no palette, and three bytes a pixel.
//
//   offset  size                   field       value
//   2       4                      bfSize      true-colour stride * height + 54
//   10      4                      bfOffBits   54
//   28      2                      biBitCount  24
//   54      true-colour stride * height        pixel rows: blue, green, red per pixel
//
// Rows are bottom-up and padded with zeros to a multiple of 4 bytes, as above.
inline constexpr std::uint32_t kBmpTrueColourPixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize;
static_assert(kBmpTrueColourPixelOffset == 54);
inline constexpr std::uint16_t kTrueColourBitsPerPixel = 24;
inline constexpr std::uint32_t kTrueColourBytesPerPixel = 3;

// Bytes in one 24-bit pixel row: three per pixel, rounded up to a multiple of 4.
constexpr std::uint64_t true_colour_stride_for(std::uint32_t width) {
  return (std::uint64_t{width} * kTrueColourBytesPerPixel + 3) / 4 * 4;
}

}  // namespace brevlo
