// Every truncation of real GIF files: each prefix must give the result code
// that belongs to where the cut falls, and leave no output. The expected code is
// derived here from the file's block structure, independently of the parser.
#include <brevlo.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus_files.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

constexpr int kSignatureSize = 6;
constexpr std::size_t kFirstBlock = 13 + 768;

std::size_t table_bytes(std::uint8_t packed) {
  return (packed & 0x80) != 0 ? std::size_t{3} << ((packed & 7) + 1) : 0;
}

// Offset just past the sub-blocks starting at `at` (past their 0 terminator),
// and the offset of that terminator.
std::size_t past_sub_blocks(const Bytes& gif, std::size_t at, std::size_t* terminator = nullptr) {
  while (gif.at(at) != 0) at += 1 + gif[at];
  if (terminator != nullptr) *terminator = at;
  return at + 1;
}

// expected[n] is the result for the first n bytes of a complete GIF that
// converts (a 256-entry global table, a first image that decodes).
std::vector<int> expected_by_length(const Bytes& gif) {
  std::vector<int> expected(gif.size() + 1, ERR_EARLY_END);
  for (int n = 0; n < kSignatureSize; ++n) expected[static_cast<std::size_t>(n)] = ERR_BAD_GIF;
  bool first_image = true;
  std::size_t at = kFirstBlock;
  while (gif.at(at) != ';') {
    const std::uint8_t introducer = gif[at];
    if (introducer == '!') {
      at = past_sub_blocks(gif, at + 2);
    } else if (introducer == ',') {
      const std::size_t code_size_at = at + 1 + 9 + table_bytes(gif.at(at + 9));
      std::size_t terminator = 0;
      at = past_sub_blocks(gif, code_size_at + 1, &terminator);
      if (first_image) {
        // From the code-size byte up to the last sub-block the image data is
        // cut; right after the last sub-block the end code has been seen and
        // the missing terminator reads as the end of the file, which the block
        // loop then meets.
        for (std::size_t n = code_size_at; n < terminator; ++n) expected[n] = ERR_BAD_GIF;
        first_image = false;
      }
    } else {
      ++at;  // a stray byte
    }
  }
  for (std::size_t n = at + 1; n <= gif.size(); ++n) expected[n] = BREVLO_SUCCESS;
  return expected;
}

// Several real files of a few kilobytes from other encoders: plain and
// optimised streams, small code sizes, a first image with a local table,
// extensions, and later images to skip.
std::vector<std::string> real_gifs() {
  std::vector<std::string> paths;
  for (const char* name :
       {"im-rose.gif", "gs-rose.gif", "gs-plasma-3x5.gif", "im-rose-2-widened.gif",
        "im-rose-16-widened.gif", "local-rose.gif", "pil-extensions.gif", "pil-frames.gif"})
    paths.push_back(corpus_file(name));
  return paths;
}

TEST(EveryPrefix, GivesTheCodeForWhereTheCutFalls) {
  ScratchDir dir(fast_scratch_parent());
  const std::string in = dir.path("cut.gif");
  const std::string out = dir.path("cut.bmp");
  std::size_t prefixes = 0;
  for (const std::string& path : real_gifs()) {
    SCOPED_TRACE(path);
    const Bytes gif = read_file(path);
    ASSERT_GT(gif.size(), kFirstBlock) << "missing; ctest generates the corpus";
    const std::vector<int> expected = expected_by_length(gif);
    int mismatches = 0;
    for (std::size_t n = 0; n <= gif.size() && mismatches < 5; ++n) {
      write_file(in, Bytes(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(n)));
      const int result = BREVLO32(in.c_str(), out.c_str());
      const bool output_left = exists(out);
      if (result != expected[n] || output_left != (result == BREVLO_SUCCESS)) {
        ADD_FAILURE() << "cut at " << n << " of " << gif.size() << ": result " << result
                      << ", expected " << expected[n] << (output_left ? ", output left" : "");
        ++mismatches;
      }
      ++prefixes;
    }
  }
  RecordProperty("prefixes", static_cast<int>(prefixes));
  std::printf("%zu prefixes converted\n", prefixes);
}

}  // namespace
}  // namespace brevlo::test
