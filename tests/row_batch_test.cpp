// Finished rows are written several at a time. These cases put batch
// boundaries, partial batches and write failures where they can go wrong.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brevlo.h"
#include "gif_writer.h"
#include "platform/fault_injection.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

struct Shape {
  const char* name;
  int width;
  int height;
};

void PrintTo(const Shape& c, std::ostream* os) {
  *os << c.name;
}

class BatchShapeTest : public testing::TestWithParam<Shape> {};

// Widths chosen around the batch size: many rows per batch with a short last
// batch, the fewest rows a batch holds (the widest rows), and rows that fill
// a batch exactly; rows past 2048 and 4096 pixels, and a single column.
const Shape kShapes[] = {{"short_last_batch", 1000, 300},
                         {"fewest_rows_per_batch", 65535, 9},
                         {"rows_fill_batches_exactly", 1024, 514},
                         {"widest", 65535, 2},
                         {"one_column", 1, 3000},
                         {"wide_2048", 2048, 2},
                         {"wide_2049", 2049, 2},
                         {"wide_4097", 4097, 2},
                         {"tall_one_column", 1, 5000}};

INSTANTIATE_TEST_SUITE_P(Batches, BatchShapeTest, testing::ValuesIn(kShapes),
                         [](const testing::TestParamInfo<Shape>& info) { return info.param.name; });

TEST_P(BatchShapeTest, WholeImageLandsInPlace) {
  const Shape& s = GetParam();
  const Bytes pixels = noise_pixels(s.width * s.height, 8, static_cast<std::uint32_t>(s.width));
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, make_gif(s.width, s.height, pixels)), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")),
            expected_bmp(s.width, s.height, pixels, test_colour_table()));
}

// A stream cut after some pixels, in the order the file stores its rows: the
// rows it finished land in place, every other row is zero, a partly filled
// row included, and pixels past the last row are dropped.
struct CutStream {
  std::string name;
  int width;
  int height;
  bool interlaced;
  int pixels_sent;
};

void PrintTo(const CutStream& c, std::ostream* os) {
  *os << c.name;
}

// Rows of noise, which fills the code table so that entries are made again
// after each clear over the remains of longer strings, between rows of runs,
// whose long strings go into the row a block at a time.
Bytes noise_and_runs(int width, int height) {
  Bytes picture = noise_pixels(width * height, 8, static_cast<std::uint32_t>(width + height));
  for (int row = 2; row < height; row += 3)
    for (int column = 0; column < width; ++column)
      picture[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
              static_cast<std::size_t>(column)] =
          static_cast<std::uint8_t>(column / (1 + row % 37));
  return picture;
}

std::vector<CutStream> cut_streams() {
  std::vector<CutStream> cases;
  // The image data ends inside the first row, after the first row, with a
  // clear code at once, and long after the last row.
  cases.push_back({"end_in_second_row_3x3", 3, 3, false, 4});
  cases.push_back({"clear_then_end", 5, 3, false, 0});
  cases.push_back({"part_of_the_first_row_only", 5, 2, false, 2});
  cases.push_back({"surplus_twice_the_image", 4, 5, false, 40});
  // Half a row past a third of the image, half of it, a row more, and all but
  // the last row: inside the first batch, at or just past a batch's end, and
  // in the last batch, for each of the batch shapes above.
  for (const Shape& shape : kShapes) {
    std::vector<int> rows = {shape.height / 3, shape.height / 2, shape.height / 2 + 1,
                             shape.height - 1};
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows)
      if (row < shape.height)
        cases.push_back({std::string(shape.name) + "_rows" + std::to_string(row), shape.width,
                         shape.height, false, row * shape.width + shape.width / 2});
  }
  // Every small height meets the passes differently (some hold no row at
  // all); each stops two pixels into a row.
  for (int height = 1; height <= 17; ++height)
    for (const int rows_sent : {height / 2, height, height + 3})
      cases.push_back({"narrow_h" + std::to_string(height) + "_rows" + std::to_string(rows_sent), 5,
                       height, true, rows_sent * 5 + 2});
  // Wide rows, where strings go into the row on the fast path, leaving bytes
  // past their end until the next string covers them; cut at a row's start,
  // inside it and just before its end.
  for (const bool interlaced : {false, true}) {
    const std::string kind = interlaced ? "interlaced_" : "plain_";
    cases.push_back({kind + "second_stored_row_at_36", 64, 16, interlaced, 64 + 36});
    for (const int into_row : {0, 1, 100, 255})
      cases.push_back({kind + "after_clears_row17_at_" + std::to_string(into_row), 256, 160,
                       interlaced, 17 * 256 + into_row});
    cases.push_back({kind + "rows_of_4000_half_way", 4000, 16, interlaced, 4000 * 3 + 2000});
  }
  return cases;
}

class CutStreamTest : public testing::TestWithParam<CutStream> {};

INSTANTIATE_TEST_SUITE_P(Rows, CutStreamTest, testing::ValuesIn(cut_streams()),
                         [](const testing::TestParamInfo<CutStream>& info) {
                           return info.param.name;
                         });

TEST_P(CutStreamTest, FinishedRowsLandAndTheRestIsZero) {
  const CutStream& c = GetParam();
  const Bytes picture = noise_and_runs(c.width, c.height);
  std::vector<int> row_numbers;  // the GIF rows in the order the file stores them
  if (c.interlaced) {
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (int row = start; row < c.height; row += step) row_numbers.push_back(row);
  } else {
    for (int row = 0; row < c.height; ++row) row_numbers.push_back(row);
  }
  Bytes stream = c.interlaced ? interlaced_order(picture, c.width, c.height) : picture;
  stream.resize(static_cast<std::size_t>(c.pixels_sent), 7);
  Bytes expected_pixels(picture.size(), 0);
  const int rows_finished = std::min(c.pixels_sent / c.width, c.height);
  for (int i = 0; i < rows_finished; ++i) {
    const auto at = std::ptrdiff_t{row_numbers[static_cast<std::size_t>(i)]} * c.width;
    std::copy_n(picture.begin() + at, c.width, expected_pixels.begin() + at);
  }
  GifParts parts;
  parts.width = static_cast<std::uint16_t>(c.width);
  parts.height = static_cast<std::uint16_t>(c.height);
  parts.image_packed = c.interlaced ? 0x40 : 0x00;
  parts.data = sub_blocks(pack_codes(lzw_encode(stream, 8)), 255);
  ScratchDir dir;
  ConversionReport report;
  ASSERT_EQ(convert_bytes_with(dir, assemble(parts), kBroadOptions, report), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")),
            expected_bmp(c.width, c.height, expected_pixels, test_colour_table()));
}

// A BMP past 2 GiB, even in a 32-bit build: the widest rows, more than 2^31
// bytes of them. Only the first row is sent, so the file stays sparse.
TEST(LargeFile, PastTwoGibibytesConverts) {
  constexpr int kWidth = 65535;
  constexpr int kHeight = 33000;
  const Bytes row = noise_pixels(kWidth, 8, 7);
  ScratchDir dir(fast_scratch_parent());
  ASSERT_EQ(convert_bytes(dir, make_gif(kWidth, kHeight, row)), 0);
  const std::uint64_t size = 1078 + std::uint64_t{65536} * kHeight;
  ASSERT_EQ(std::filesystem::file_size(dir.path("out.bmp")), size);
  std::ifstream bmp(dir.path("out.bmp"), std::ios::binary);
  bmp.seekg(static_cast<std::streamoff>(size - 65536));
  Bytes last_row(kWidth);
  bmp.read(reinterpret_cast<char*>(last_row.data()), kWidth);
  EXPECT_EQ(last_row, row);  // the top row, stored last
}

// A few hundred bytes of GIF may describe a picture of 4 GiB. Interlaced or
// not, only the rows it reaches take disk space: the pixel area is not
// filled with zeros first for an image that large.
TEST(LargeFile, HugeInterlacedImageStaysAsSparseAsItsTwin) {
  constexpr int kSide = 65535;
  const Bytes pixels = noise_pixels(3 * kSide, 8, 9);
  GifParts parts;
  parts.width = kSide;
  parts.height = kSide;
  parts.data = sub_blocks(pack_codes(lzw_encode(pixels, 8)), 255);
  ScratchDir dir(fast_scratch_parent());
  std::uint64_t blocks[2] = {};
  for (const bool interlaced : {false, true}) {
    parts.image_packed = interlaced ? 0x40 : 0x00;
    ConversionReport report;
    ASSERT_EQ(convert_bytes_with(dir, assemble(parts), kBroadOptions, report), 0) << interlaced;
    struct stat info {};
    ASSERT_EQ(::stat(dir.path("out.bmp").c_str(), &info), 0);
    blocks[interlaced] = static_cast<std::uint64_t>(info.st_blocks);
  }
  EXPECT_LE(blocks[1], blocks[0] + 64) << "512-byte blocks: interlaced, then not";
}

struct WriteFailure {
  const char* name;
  std::uint64_t failing_write;  // 1: the headers, 2: the one batch of rows; 0: none
  bool corrupt_ending;          // the stream ends early, without its end code
  int result;
};

void PrintTo(const WriteFailure& c, std::ostream* os) {
  *os << c.name;
}

class WriteFailureTest : public testing::TestWithParam<WriteFailure> {};

// A 10x40 image (stride 12) fits in one batch, written once the image is
// complete or fails: corrupt data later in the same batch must not hide the
// failed write of the rows before it, and the report carries the failed
// write's own error number (the test seam's, ESPIPE).
INSTANTIATE_TEST_SUITE_P(
    Rows, WriteFailureTest,
    testing::Values(WriteFailure{"header_cannot_be_written", 1, false, ERR_OPEN_FAILED},
                    WriteFailure{"rows_cannot_be_written", 2, false, ERR_OPEN_FAILED},
                    WriteFailure{"failed_rows_then_bad_code", 2, true, ERR_OPEN_FAILED},
                    WriteFailure{"room_for_all_then_bad_code", 0, true, ERR_BAD_GIF},
                    WriteFailure{"room_for_all", 0, false, BREVLO_SUCCESS}),
    [](const testing::TestParamInfo<WriteFailure>& info) { return info.param.name; });

TEST_P(WriteFailureTest, GivesTheResultOfRowByRowWritesAndTheirError) {
  const WriteFailure& c = GetParam();
  // A corrupt stream stops after 30 of the 40 rows, while they are still held.
  const Bytes pixels = noise_pixels(10 * (c.corrupt_ending ? 30 : 40), 8, 5);
  std::vector<Code> codes = lzw_encode(pixels, 8);
  if (c.corrupt_ending) codes.pop_back();  // no end code: the terminator comes too soon
  GifParts parts;
  parts.width = 10;
  parts.height = 40;
  parts.data = sub_blocks(pack_codes(codes), 255);
  ScratchDir dir;
  ConversionReport report;
  platform::fault_injection::fail_seek_number(c.failing_write);
  const int result = convert_bytes_with(dir, assemble(parts), kStrictOptions, report);
  platform::fault_injection::fail_seek_number(0);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(report.system_error, c.failing_write != 0 ? ESPIPE : 0);
}

}  // namespace
}  // namespace brevlo::test
