// The LZW decoder, driven through whole conversions so that every case is
// checked byte for byte against a BMP built independently.
#include <gtest/gtest.h>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

struct RoundTrip {
  const char* name;
  int width;
  int height;
  int code_size;
  int block_size;
  EncodeOptions options;
  Bytes pixels;
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
  *os << c.name;
}

class RoundTripTest : public testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, ConvertsToExactPixels) {
  const RoundTrip& c = GetParam();
  ScratchDir dir;
  Bytes gif = make_gif(c.width, c.height, c.pixels, c.code_size, c.block_size, c.options);
  ASSERT_EQ(convert_bytes(dir, gif), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")),
            expected_bmp(c.width, c.height, c.pixels, test_colour_table()));
}

Bytes runs(int count) {
  Bytes out;
  for (int i = 0; static_cast<int>(out.size()) < count; ++i)
    out.insert(out.end(), static_cast<std::size_t>(1 + i % 37), static_cast<std::uint8_t>(i * 7));
  out.resize(static_cast<std::size_t>(count));
  return out;
}

std::vector<RoundTrip> round_trips() {
  std::vector<RoundTrip> cases;
  EncodeOptions plain;
  EncodeOptions no_clear{false, FullTable::kClear};
  EncodeOptions deferred{true, FullTable::kDefer};
  cases.push_back({"one_pixel", 1, 1, 8, 255, plain, {42}});
  cases.push_back({"width_not_multiple_of_4", 7, 5, 8, 255, plain, noise_pixels(35, 8, 1)});
  cases.push_back({"no_initial_clear", 13, 11, 8, 255, no_clear, noise_pixels(143, 8, 2)});
  // One-byte sub-blocks: every code straddles sub-blocks.
  cases.push_back({"one_byte_sub_blocks", 31, 9, 8, 1, plain, noise_pixels(279, 8, 3)});
  cases.push_back({"two_byte_sub_blocks", 17, 17, 8, 2, plain, noise_pixels(289, 8, 4)});
  // Noise fills the 4096-entry table many times over: 12-bit codes spanning
  // three bytes, clears on a full table, or a full table kept until the end.
  cases.push_back({"full_table_then_clear", 200, 150, 8, 255, plain, noise_pixels(30000, 8, 5)});
  cases.push_back({"full_table_kept", 200, 150, 8, 255, deferred, noise_pixels(30000, 8, 6)});
  cases.push_back(
      {"full_table_kept_odd_blocks", 123, 77, 8, 7, deferred, noise_pixels(9471, 8, 7)});
  // Long runs produce codes equal to the next free code (a string followed by
  // its own first pixel).
  cases.push_back({"long_runs", 64, 64, 8, 255, plain, Bytes(4096, 9)});
  cases.push_back({"mixed_runs", 333, 41, 8, 200, plain, runs(333 * 41)});
  cases.push_back({"wide_row", 3001, 3, 8, 255, plain, noise_pixels(9003, 8, 8)});
  for (int size = 2; size <= 7; ++size) {
    static const char* const names[] = {"code_size_2", "code_size_3", "code_size_4",
                                        "code_size_5", "code_size_6", "code_size_7"};
    cases.push_back({names[size - 2], 57, 43, size, 255, plain,
                     noise_pixels(57 * 43, size, static_cast<std::uint32_t>(size))});
  }
  cases.push_back({"code_size_2_deferred", 90, 90, 2, 255, deferred, noise_pixels(8100, 2, 9)});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Streams, RoundTripTest, testing::ValuesIn(round_trips()),
                         [](const testing::TestParamInfo<RoundTrip>& info) {
                           return info.param.name;
                         });

// A hand-built code stream for a 4x1 image with code size 2 (clear 4, end 5).
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
  Bytes after_data;
};

void PrintTo(const BadStream& c, std::ostream* os) {
  *os << c.name;
}

class BadStreamTest : public testing::TestWithParam<BadStream> {};

TEST_P(BadStreamTest, IsCorruptImageData) {
  ScratchDir dir;
  EXPECT_EQ(convert_bytes(dir, stream_gif(GetParam().codes, 2, 2, GetParam().after_data)), 30004);
  EXPECT_FALSE(exists(dir.path("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BadStreamTest,
    testing::Values(
        BadStream{"code_above_next_free", {4, 1, 7, 5}, {0x00, 0x3B}},
        BadStream{"next_free_right_after_clear", {4, 6, 5}, {0x00, 0x3B}},
        BadStream{"next_free_at_the_very_start", {6, 5}, {0x00, 0x3B}},
        BadStream{"terminator_without_end_code", {4, 1, 1, 1, 1}, {0x00, 0x3B}},
        BadStream{"end_code_then_another_sub_block", {4, 1, 1, 1, 1, 5}, {0x01, 0x00, 0x00, 0x3B}},
        BadStream{"file_ends_inside_data", {4, 1, 1}, {}}),
    [](const testing::TestParamInfo<BadStream>& info) { return info.param.name; });

TEST(LzwDecoder, CodeSizeOutsideTwoToEightIsCorrupt) {
  for (int code_size : {0, 1, 9, 12, 255}) {
    GifParts parts;
    parts.code_size = static_cast<std::uint8_t>(code_size);
    parts.data = sub_blocks(pack_codes(lzw_encode({1}, 8)), 255);
    ScratchDir dir;
    EXPECT_EQ(convert_bytes(dir, assemble(parts)), 30004) << code_size;
    EXPECT_FALSE(exists(dir.path("out.bmp")));
  }
}

TEST(LzwDecoder, SubBlockShorterThanItsLengthIsCorrupt) {
  GifParts parts;
  parts.data = {0x10, 0x00, 0x01};  // announces 16 bytes, file ends after 2
  parts.after_data = {};
  parts.after_image = {};
  ScratchDir dir;
  EXPECT_EQ(convert_bytes(dir, assemble(parts)), 30004);
}

TEST(LzwDecoder, BytesAfterEndCodeInItsSubBlockAreIgnored) {
  Bytes data = pack_codes(with_widths({4, 1, 2, 3, 0, 5}, 2));
  data.insert(data.end(), {0xAA, 0xBB, 0xCC});
  GifParts parts;
  parts.width = 4;
  parts.code_size = 2;
  parts.data = sub_blocks(data, 255);
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, assemble(parts)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(4, 1, {1, 2, 3, 0}, test_colour_table()));
}

TEST(LzwDecoder, EndCodeBeforeAllRowsLeavesUnreachedRowsZero) {
  // 3x3 image, only the top row and half of the second decoded.
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, stream_gif({4, 1, 2, 3, 1, 5}, 3, 3)), 0);
  Bytes pixels = {1, 2, 3, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(3, 3, pixels, test_colour_table()));
}

TEST(LzwDecoder, ClearThenEndLeavesFullSizeFileOfZeros) {
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, stream_gif({4, 5}, 5, 3)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(5, 3, {}, test_colour_table()));
}

TEST(LzwDecoder, PartRowOnlyStillGivesFullSizeFile) {
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, stream_gif({4, 3, 3, 5}, 5, 2)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(5, 2, {}, test_colour_table()));
}

TEST(LzwDecoder, SurplusPixelsPastLastRowAreDropped) {
  Bytes pixels = noise_pixels(40, 8, 11);
  GifParts parts;
  parts.width = 4;
  parts.height = 5;  // 20 pixels announced, 40 in the stream
  parts.data = sub_blocks(pack_codes(lzw_encode(pixels, 8)), 255);
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, assemble(parts)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(4, 5, pixels, test_colour_table()));
}

TEST(LzwDecoder, SurplusPixelsDoNotHideLaterCorruption) {
  ScratchDir dir;
  EXPECT_EQ(convert_bytes(dir, stream_gif({4, 1, 1, 1, 1, 1, 1, 1}, 2, 1)), 30004);
}

}  // namespace
}  // namespace brevlo::test
