// Randomised round trips through the decoder, and the places where the 64-bit
// bit buffer meets sub-block boundaries and the end code.
#include <gtest/gtest.h>

#include <random>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

// Pixels mixing noise and runs of random length, so that strings of every
// length up to hundreds of pixels cross row ends.
Bytes mixed_pixels(std::mt19937& random, int count, int code_size) {
  std::uniform_int_distribution<int> pixel(0, (1 << code_size) - 1);
  std::uniform_int_distribution<int> run(1, 300);
  std::bernoulli_distribution noisy(0.5);
  Bytes out;
  while (static_cast<int>(out.size()) < count) {
    if (noisy(random)) {
      out.push_back(static_cast<std::uint8_t>(pixel(random)));
    } else {
      out.insert(out.end(), static_cast<std::size_t>(run(random)),
                 static_cast<std::uint8_t>(pixel(random)));
    }
  }
  out.resize(static_cast<std::size_t>(count));
  return out;
}

TEST(LzwRandom, RoundTripsOfRandomShapeCodeSizeAndSubBlocks) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> width(1, 300);
  std::uniform_int_distribution<int> height(1, 40);
  std::uniform_int_distribution<int> code_size(2, 8);
  std::uniform_int_distribution<int> block_size(1, 255);
  std::bernoulli_distribution coin(0.5);
  for (int round = 0; round < 150; ++round) {
    const int w = width(random);
    const int h = height(random);
    const int size = code_size(random);
    const int block = block_size(random);
    const EncodeOptions options{coin(random), coin(random) ? FullTable::kClear : FullTable::kDefer};
    const Bytes pixels = mixed_pixels(random, w * h, size);
    ScratchDir dir;
    ASSERT_EQ(convert_bytes(dir, make_gif(w, h, pixels, size, block, options)), 0)
        << "round " << round;
    ASSERT_EQ(read_file(dir.path("out.bmp")), expected_bmp(w, h, pixels, test_colour_table()))
        << "round " << round << ": " << w << "x" << h << " code size " << size << " blocks of "
        << block;
  }
}

// A 4x1 image, code size 2, whose five 3-bit codes (clear, 1, 2, 3, 0) and a
// 3-bit end code fill exactly 18 bits, padded to 3 bytes.
Bytes short_stream() {
  return pack_codes(with_widths({4, 1, 2, 3, 0, 5}, 2));
}

struct EndCodePlace {
  const char* name;
  int junk_in_sub_block;  // bytes after the end code in its own sub-block
  Bytes after_data;
  int result;
};

void PrintTo(const EndCodePlace& c, std::ostream* os) {
  *os << c.name;
}

class EndCodeTest : public testing::TestWithParam<EndCodePlace> {};

// The byte after the end code is the next byte of the file after the end
// code's own sub-block, however much of that sub-block the bit buffer has
// already loaded.
INSTANTIATE_TEST_SUITE_P(
    BitBuffer, EndCodeTest,
    testing::Values(EndCodePlace{"last_in_sub_block", 0, {0x00}, 0},
                    EndCodePlace{"last_then_another_sub_block", 0, {0x01, 0x00, 0x00}, 30004},
                    EndCodePlace{"junk_in_long_sub_block", 40, {0x00}, 0},
                    EndCodePlace{
                        "junk_then_another_sub_block", 40, {0x02, 0x00, 0x00, 0x00}, 30004},
                    EndCodePlace{"junk_filling_sub_block", 252, {0x00}, 0}),
    [](const testing::TestParamInfo<EndCodePlace>& info) { return info.param.name; });

TEST_P(EndCodeTest, ByteAfterTheSubBlockDecides) {
  const EndCodePlace& c = GetParam();
  Bytes data = short_stream();
  data.insert(data.end(), static_cast<std::size_t>(c.junk_in_sub_block), 0xA5);
  GifParts parts;
  parts.width = 4;
  parts.code_size = 2;
  parts.data = sub_blocks(data, 255);
  parts.after_data = c.after_data;
  ScratchDir dir;
  EXPECT_EQ(convert_bytes(dir, assemble(parts)), c.result);
  if (c.result != 0) return;
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(4, 1, {1, 2, 3, 0}, test_colour_table()));
}

TEST(LzwBitBuffer, SubBlockSizesAroundTheEightByteLoad) {
  // 12-bit codes over sub-blocks of 1 to 17 bytes: every position of a code
  // relative to the fast load's 8-byte reach and to the sub-block's end.
  const Bytes pixels = noise_pixels(150 * 60, 8, 77);
  for (int block = 1; block <= 17; ++block) {
    ScratchDir dir;
    ASSERT_EQ(convert_bytes(dir, make_gif(150, 60, pixels, 8, block)), 0) << block;
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(150, 60, pixels, test_colour_table()))
        << block;
  }
}

}  // namespace
}  // namespace brevlo::test
