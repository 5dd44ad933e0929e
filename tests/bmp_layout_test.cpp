// The BMP file's fields, row order, padding and palette, read field by field.
#include <gtest/gtest.h>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

std::uint32_t field(const Bytes& bmp, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bmp[at + static_cast<std::size_t>(i)];
  return value;
}

TEST(BmpLayout, EveryHeaderField) {
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, make_gif(5, 3, noise_pixels(15, 8, 41))), 0);
  Bytes bmp = read_file(dir.path("out.bmp"));
  ASSERT_EQ(bmp.size(), 1078u + 8 * 3);
  struct Field {
    std::size_t offset;
    int size;
    std::uint32_t value;
  };
  for (const Field& f :
       {Field{0, 2, 0x4D42}, Field{2, 4, 1078 + 24}, Field{6, 2, 0}, Field{8, 2, 0},
        Field{10, 4, 1078}, Field{14, 4, 40}, Field{18, 4, 5}, Field{22, 4, 3}, Field{26, 2, 1},
        Field{28, 2, 8}, Field{30, 4, 0}, Field{34, 4, 0}, Field{38, 4, 0}, Field{42, 4, 0},
        Field{46, 4, 0}, Field{50, 4, 0}}) {
    EXPECT_EQ(field(bmp, f.offset, f.size), f.value) << "offset " << f.offset;
  }
}

TEST(BmpLayout, PaletteIsBlueGreenRedZeroInTableOrder) {
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, make_gif(1, 1, {0})), 0);
  Bytes bmp = read_file(dir.path("out.bmp"));
  Bytes table = test_colour_table();
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(bmp[54 + 4 * i + 0], table[3 * i + 2]);
    EXPECT_EQ(bmp[54 + 4 * i + 1], table[3 * i + 1]);
    EXPECT_EQ(bmp[54 + 4 * i + 2], table[3 * i + 0]);
    EXPECT_EQ(bmp[54 + 4 * i + 3], 0);
  }
}

TEST(BmpLayout, RowsBottomUpPaddedWithZerosToTheStride) {
  for (int width : {1, 2, 3, 4, 5, 6, 7, 8, 9}) {
    const int height = 3;
    Bytes pixels;
    for (int row = 0; row < height; ++row)
      for (int column = 0; column < width; ++column)
        pixels.push_back(static_cast<std::uint8_t>(0x10 * (row + 1) + column + 1));
    ScratchDir dir;
    ASSERT_EQ(convert_bytes(dir, make_gif(width, height, pixels)), 0);
    Bytes bmp = read_file(dir.path("out.bmp"));
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    ASSERT_EQ(bmp.size(), 1078 + stride * height) << width;
    for (int row = 0; row < height; ++row) {
      std::size_t at = 1078 + static_cast<std::size_t>(height - 1 - row) * stride;
      for (std::size_t column = 0; column < stride; ++column) {
        std::uint8_t want = column < static_cast<std::size_t>(width)
                                ? static_cast<std::uint8_t>(0x10 * (row + 1) + column + 1)
                                : 0;
        EXPECT_EQ(bmp[at + column], want)
            << "width " << width << " row " << row << " column " << column;
      }
    }
  }
}

}  // namespace
}  // namespace brevlo::test
