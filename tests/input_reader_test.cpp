// The GIF is read in chunks; blocks and image data that straddle a chunk
// boundary must read exactly as anywhere else, from a file and from a pipe.
#include "engine/input_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Comments that put the image block at every offset from a little before the
// end of the reader's first chunk to a little past it, so that the comment's
// last sub-block and terminator, then the image's descriptor, code size,
// sub-block lengths and data bytes each fall on the boundary; and comments of
// every third length up to a chunk's worth, which put the boundary at each
// place of their own sub-blocks and of the image block further on.
std::vector<Bytes> comments_around_the_boundary() {
  std::vector<Bytes> comments;
  for (int offset = -40; offset <= 8; ++offset)
    comments.push_back(comment_of_size(kReaderBufferSize - kFirstBlockOffset + offset));
  const std::size_t to_boundary = kReaderBufferSize - kFirstBlockOffset;
  for (std::size_t length = to_boundary - 270; length < to_boundary; length += 3)
    comments.push_back(comment_extension(std::string(length, 'x')));
  return comments;
}

TEST(InputReader, ImageStraddlingAChunkBoundaryReadsTheSame) {
  const Bytes pixels = noise_pixels(40 * 30, 8, 3);
  const Bytes expected = expected_bmp(40, 30, pixels, test_colour_table());
  GifParts parts;
  parts.width = 40;
  parts.height = 30;
  parts.data = sub_blocks(pack_codes(lzw_encode(pixels, 8)), 255);
  ScratchDir dir;
  for (const Bytes& comment : comments_around_the_boundary()) {
    SCOPED_TRACE(comment.size());
    parts.before_image = comment;
    ASSERT_EQ(convert_bytes(dir, assemble(parts)), 0);
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected);
    ConversionReport report;
    ASSERT_EQ(convert_stream_with(dir, assemble(parts), kStrictOptions, report), 0);
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected);
  }
  // Three chunks' worth of comment before the image, so that a pipe hands
  // the file over in many reads.
  parts.before_image = comment_of_size(3 * kReaderBufferSize);
  ConversionReport report;
  ASSERT_EQ(convert_stream_with(dir, assemble(parts), kStrictOptions, report), 0);
  EXPECT_EQ(read_file(dir.path("out.bmp")), expected);
}

}  // namespace
}  // namespace brevlo::test
