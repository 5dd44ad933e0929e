// The GIF is read in chunks; image data and blocks that straddle a chunk
// boundary must read exactly as anywhere else.
#include "engine/input_reader.h"

#include <gtest/gtest.h>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

// Bytes before the first block: header and global colour table.
constexpr int kFirstBlockOffset = 13 + 768;

// A comment extension taking exactly `size` bytes of the file (size >= 4).
Bytes comment_of_size(int size) {
  int text = size - 3;         // introducer, label, terminator
  text -= (text + 255) / 256;  // one length byte per sub-block of up to 255
  Bytes out = comment_extension(std::string(static_cast<std::size_t>(text), 'x'));
  EXPECT_EQ(static_cast<int>(out.size()), size);
  return out;
}

TEST(InputReader, ImageStraddlingAChunkBoundaryReadsTheSame) {
  // The image block starts at every offset from a little before the end of
  // the first chunk to a little past it, so that its descriptor, code size,
  // sub-block lengths and data bytes each fall on the boundary.
  const Bytes pixels = noise_pixels(40 * 30, 8, 3);
  const Bytes expected = expected_bmp(40, 30, pixels, test_colour_table());
  for (int shift = -40; shift <= 8; ++shift) {
    GifParts parts;
    parts.width = 40;
    parts.height = 30;
    parts.data = sub_blocks(pack_codes(lzw_encode(pixels, 8)), 255);
    parts.before_image = comment_of_size(kReaderBufferSize - kFirstBlockOffset + shift);
    ScratchDir dir;
    ASSERT_EQ(convert_bytes(dir, assemble(parts)), 0) << shift;
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected) << shift;
  }
}

}  // namespace
}  // namespace brevlo::test
