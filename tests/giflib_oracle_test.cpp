// giflib as an independent oracle: every GIF the converter accepts must give
// the BMP of exactly the indices and palette that giflib decodes for its first
// image. The files come from the project's own writer, in the one table of
// round trips (every code size and sub-block size, full tables kept or
// cleared, no initial clear, long runs, wide rows, random shapes), and from
// the generated corpus of other encoders. Each file is converted as the
// library does, and with the broad options the command uses by default.
#include <brevlo.h>
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "corpus_files.h"
#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

// The first image as giflib decodes it; empty pixels when it cannot.
struct OracleImage {
  int width = 0;
  int height = 0;
  bool interlaced = false;
  bool has_table = false;  // the first image has a table of its own or a global one
  Bytes pixels;            // width * height indices, top row first
  Bytes colour_table;      // the first image's table, 768 bytes, black past its size
  std::string error;
};

OracleImage decode_with_giflib(const std::string& path) {
  OracleImage image;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (gif == nullptr) {
    image.error = GifErrorString(error);
    return image;
  }
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
    image.error = GifErrorString(gif->Error);
    DGifCloseFile(gif, &error);
    return image;
  }
  const SavedImage& first = gif->SavedImages[0];
  image.width = first.ImageDesc.Width;
  image.height = first.ImageDesc.Height;
  image.interlaced = first.ImageDesc.Interlace;
  const auto count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  image.pixels.assign(first.RasterBits, first.RasterBits + count);
  const ColorMapObject* map =
      first.ImageDesc.ColorMap != nullptr ? first.ImageDesc.ColorMap : gif->SColorMap;
  image.has_table = map != nullptr;
  image.colour_table.assign(768, 0);
  for (int i = 0; map != nullptr && i < map->ColorCount && i < 256; ++i) {
    const auto at = static_cast<std::size_t>(i) * 3;
    image.colour_table[at] = map->Colors[i].Red;
    image.colour_table[at + 1] = map->Colors[i].Green;
    image.colour_table[at + 2] = map->Colors[i].Blue;
  }
  DGifCloseFile(gif, &error);
  return image;
}

// The result the converter must give a well-formed GIF: 30008 for a global
// table that is absent or not 256 entries, or an interlaced first image.
int expected_result(const Bytes& gif, const OracleImage& image) {
  if ((gif[10] & 0x87) != 0x87) return ERR_UNSUPPORTED;
  return image.interlaced ? ERR_UNSUPPORTED : BREVLO_SUCCESS;
}

// Converts the file and checks the result code, and the BMP against giflib;
// then the same with the broad options, which convert every such file that
// has a colour table.
void expect_agreement(const std::string& gif_path, const ScratchDir& dir) {
  SCOPED_TRACE(gif_path);
  const OracleImage image = decode_with_giflib(gif_path);
  ASSERT_TRUE(image.error.empty()) << "giflib: " << image.error;
  const Bytes expected = expected_bmp(image.width, image.height, image.pixels, image.colour_table);
  const std::string bmp_path = dir.path("oracle.bmp");
  const int result = BREVLO32(gif_path.c_str(), bmp_path.c_str());
  EXPECT_EQ(result, expected_result(read_file(gif_path), image));
  if (result != BREVLO_SUCCESS) {
    EXPECT_FALSE(exists(bmp_path));
  } else {
    EXPECT_EQ(read_file(bmp_path), expected);
  }
  ConversionReport report;
  const int broad = convert_bytes_with(dir, read_file(gif_path), kBroadOptions, report);
  ASSERT_EQ(broad, image.has_table ? BREVLO_SUCCESS : ERR_UNSUPPORTED);
  if (broad == BREVLO_SUCCESS) {
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected);
  }
}

// One file from the project's writer; the oracle must also see our pixels.
void check_written(const Bytes& gif, const Bytes& pixels) {
  ScratchDir dir;
  write_file(dir.path("in.gif"), gif);
  const OracleImage image = decode_with_giflib(dir.path("in.gif"));
  ASSERT_EQ(image.pixels, pixels) << "giflib does not read the writer's file as meant";
  expect_agreement(dir.path("in.gif"), dir);
}

// A picture the project's writer encodes, and how.
struct RoundTrip {
  std::string name;
  int width;
  int height;
  int code_size;
  int block_size;  // bytes per data sub-block
  EncodeOptions options;
  Bytes pixels;
};

Bytes runs(int count) {
  Bytes out;
  for (int i = 0; static_cast<int>(out.size()) < count; ++i)
    out.insert(out.end(), static_cast<std::size_t>(1 + i % 37), static_cast<std::uint8_t>(i * 7));
  out.resize(static_cast<std::size_t>(count));
  return out;
}

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

std::vector<RoundTrip> round_trips() {
  std::vector<RoundTrip> cases;
  const EncodeOptions plain;
  const EncodeOptions no_clear{false, FullTable::kClear};
  const EncodeOptions deferred{true, FullTable::kDefer};
  cases.push_back({"one_pixel", 1, 1, 8, 255, plain, {42}});
  cases.push_back({"width_not_multiple_of_4", 7, 5, 8, 255, plain, noise_pixels(35, 8, 1)});
  cases.push_back({"no_initial_clear", 13, 11, 8, 255, no_clear, noise_pixels(143, 8, 2)});
  // Long runs give codes equal to the next free code (a string followed by
  // its own first pixel), and strings of many blocks.
  cases.push_back({"long_runs", 64, 64, 8, 255, plain, Bytes(4096, 9)});
  cases.push_back({"mixed_runs", 333, 41, 8, 200, plain, runs(333 * 41)});
  cases.push_back({"wide_row", 3001, 3, 8, 255, plain, noise_pixels(9003, 8, 8)});
  // Every code size, at two picture sizes, and the smallest with a full table
  // kept.
  for (int size = 2; size <= 8; ++size) {
    if (size < 8)
      cases.push_back({"code_size_" + std::to_string(size), 57, 43, size, 255, plain,
                       noise_pixels(57 * 43, size, static_cast<std::uint32_t>(size))});
    cases.push_back({"code_size_" + std::to_string(size) + "_37x23", 37, 23, size, 255, plain,
                     noise_pixels(37 * 23, size, static_cast<std::uint32_t>(300 + size))});
  }
  cases.push_back({"code_size_2_deferred", 90, 90, 2, 255, deferred, noise_pixels(8100, 2, 9)});
  // Every sub-block size, so that codes straddle sub-blocks at every phase:
  // one-byte sub-blocks put every code across two or more.
  const Bytes straddling = noise_pixels(61 * 17, 8, 77);
  for (int block = 1; block <= 255; ++block)
    cases.push_back(
        {"sub_blocks_of_" + std::to_string(block), 61, 17, 8, block, plain, straddling});
  cases.push_back({"two_byte_sub_blocks_17x17", 17, 17, 8, 2, plain, noise_pixels(289, 8, 4)});
  cases.push_back({"one_byte_sub_blocks_31x9", 31, 9, 8, 1, plain, noise_pixels(279, 8, 3)});
  // 12-bit codes over sub-blocks of 1 to 17 bytes: every place of a code in
  // the word that one load takes from the sub-block, and against its end.
  const Bytes wide_codes = noise_pixels(150 * 60, 8, 77);
  for (int block = 1; block <= 17; ++block)
    cases.push_back({"twelve_bit_codes_in_sub_blocks_of_" + std::to_string(block), 150, 60, 8,
                     block, plain, wide_codes});
  // Noise fills the 4096-entry table many times over: clears on a full table,
  // or a full table kept until the end, with and without an initial clear.
  cases.push_back({"full_table_then_clear", 200, 150, 8, 255, plain, noise_pixels(30000, 8, 5)});
  cases.push_back({"full_table_kept", 200, 150, 8, 255, deferred, noise_pixels(30000, 8, 6)});
  cases.push_back(
      {"full_table_kept_odd_blocks", 123, 77, 8, 7, deferred, noise_pixels(9471, 8, 7)});
  struct FullTableCase {
    const char* name;
    int code_size;
    EncodeOptions options;
  };
  for (const FullTableCase& c :
       {FullTableCase{"kept", 8, deferred},
        FullTableCase{"kept_no_initial_clear", 8, {false, FullTable::kDefer}},
        FullTableCase{"cleared", 8, plain}, FullTableCase{"cleared_no_initial_clear", 8, no_clear},
        FullTableCase{"kept_code_size_2_no_initial_clear", 2, {false, FullTable::kDefer}},
        FullTableCase{"kept_code_size_5", 5, deferred}})
    cases.push_back({std::string("full_table_301x97_") + c.name, 301, 97, c.code_size, 255,
                     c.options, noise_pixels(301 * 97, c.code_size, 900 + c.code_size)});
  for (int size : {2, 3, 7, 8})
    cases.push_back({"no_initial_clear_code_size_" + std::to_string(size), 45, 9, size, 200,
                     no_clear, noise_pixels(45 * 9, size, 40 + size)});
  // Random shapes, code sizes, sub-block sizes and table handling.
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
    cases.push_back({"random_" + std::to_string(round), w, h, size, block, options,
                     mixed_pixels(random, w * h, size)});
  }
  return cases;
}

// One test over the whole table: a few hundred rows, each a conversion or
// two of a small file.
TEST(GiflibOracle, RoundTripsOfTheWritersFiles) {
  for (const RoundTrip& c : round_trips()) {
    SCOPED_TRACE(c.name);
    check_written(make_gif(c.width, c.height, c.pixels, c.code_size, c.block_size, c.options),
                  c.pixels);
  }
}

TEST(GiflibOracle, SmallTablesGlobalOrLocalAndInterlacedImages) {
  const Bytes pixels = noise_pixels(23 * 19, 3, 61);
  for (const bool interlaced : {false, true}) {
    for (const bool local : {false, true}) {
      SCOPED_TRACE(std::string(interlaced ? "interlaced" : "") + (local ? " local" : " global"));
      Bytes table = test_colour_table();
      table.resize(std::size_t{8} * 3);
      GifParts parts;
      parts.width = 23;
      parts.height = 19;
      parts.code_size = 3;
      parts.screen_packed = local ? 0x00 : 0x82;
      parts.omit_global_table = local;
      parts.global_table = table;
      parts.image_packed = static_cast<std::uint8_t>((interlaced ? 0x40 : 0) | (local ? 0x82 : 0));
      if (local) parts.local_table = table;
      parts.data = sub_blocks(
          pack_codes(lzw_encode(interlaced ? interlaced_order(pixels, 23, 19) : pixels, 3)), 255);
      check_written(assemble(parts), pixels);
    }
  }
}

TEST(GiflibOracle, CorpusOfOtherEncoders) {
  ScratchDir dir;
  for (const std::string& path : corpus_files()) expect_agreement(path, dir);
}

}  // namespace
}  // namespace brevlo::test
