// The LZW decoder on hand-built code streams, driven through whole
// conversions so that every case is checked byte for byte against a BMP built
// independently. Round trips of encoded pictures are in the giflib oracle's
// table, streams that end before the last row in the row batch's.
#include <gtest/gtest.h>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

// A hand-built code stream with code size 2 (clear 4, end 5).
Bytes stream_gif(const std::vector<int>& codes, int width, int height, Bytes after_data = {0x00},
                 int block_size = 255) {
  GifParts parts;
  parts.width = static_cast<std::uint16_t>(width);
  parts.height = static_cast<std::uint16_t>(height);
  parts.code_size = 2;
  parts.data = sub_blocks(pack_codes(with_widths(codes, 2)), block_size);
  parts.after_data = std::move(after_data);
  return assemble(parts);
}

TEST(LzwDecoder, CodeEqualToNextFreeRepeatsPreviousStringAndItsFirstPixel) {
  // 1, then 6 (= next free: "1" + "1"), then 7 (= next free: "1 1" + "1").
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, stream_gif({4, 1, 6, 7, 5}, 6, 1)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")),
            expected_bmp(6, 1, {1, 1, 1, 1, 1, 1}, test_colour_table()));
}

TEST(LzwDecoder, ClearResetsTableAndWidth) {
  // After 8 entries the width is 4; a clear brings it back to 3 bits.
  std::vector<int> codes = {4, 0, 1, 2, 3, 0, 1, 2, 3, 4, 3, 2, 5};
  Bytes pixels = {0, 1, 2, 3, 0, 1, 2, 3, 3, 2};
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, stream_gif(codes, 10, 1)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(10, 1, pixels, test_colour_table()));
}

struct BadStream {
  const char* name;
  std::vector<int> codes;
  int height = 2;  // of an image 2 pixels wide
};

void PrintTo(const BadStream& c, std::ostream* os) {
  *os << c.name;
}

class BadStreamTest : public testing::TestWithParam<BadStream> {};

// Under the fixed contract; how the broad options take a stream without an
// end code is in the parser's table.
TEST_P(BadStreamTest, IsCorruptImageData) {
  ScratchDir dir;
  EXPECT_EQ(convert_bytes(dir, stream_gif(GetParam().codes, 2, GetParam().height, {0x00, 0x3B})),
            30004);
  EXPECT_FALSE(exists(dir.path("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BadStreamTest,
    testing::Values(BadStream{"code_above_next_free", {4, 1, 7, 5}},
                    BadStream{"next_free_right_after_clear", {4, 6, 5}},
                    BadStream{"next_free_at_the_very_start", {6, 5}},
                    BadStream{"terminator_without_end_code", {4, 1, 1, 1, 1}},
                    // The one row is complete after two pixels; the codes
                    // after it are still read, up to the terminator that
                    // stands where the end code should.
                    BadStream{
                        "surplus_then_terminator_without_end_code", {4, 1, 1, 1, 1, 1, 1, 1}, 1}),
    [](const testing::TestParamInfo<BadStream>& info) { return info.param.name; });

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
// code's own sub-block, however much of that sub-block follows the end code;
// only the terminator may come there.
INSTANTIATE_TEST_SUITE_P(
    Streams, EndCodeTest,
    testing::Values(EndCodePlace{"last_in_sub_block", 0, {0x00}, 0},
                    EndCodePlace{"last_then_another_sub_block", 0, {0x01, 0x00, 0x00}, 30004},
                    EndCodePlace{"three_bytes_after_it", 3, {0x00}, 0},
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

}  // namespace
}  // namespace brevlo::test
