// giflib as an independent oracle: every GIF the converter accepts must give
// the BMP of exactly the indices and palette that giflib decodes for its first
// image. The files come from the project's own writer (every code size, every
// sub-block size, full tables with deferred clears, no initial clear) and from
// the generated corpus of other encoders. Each file is converted as the
// library does, and with the broad options the command uses by default.
#include <brevlo.h>
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <string>

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

TEST(GiflibOracle, EveryCodeSizeWithA256EntryTable) {
  for (int code_size = 2; code_size <= 8; ++code_size) {
    SCOPED_TRACE(code_size);
    const Bytes pixels = noise_pixels(37 * 23, code_size, 300 + code_size);
    check_written(make_gif(37, 23, pixels, code_size), pixels);
  }
}

TEST(GiflibOracle, EverySubBlockSize) {
  const Bytes pixels = noise_pixels(61 * 17, 8, 77);
  for (int block_size = 1; block_size <= 255; ++block_size) {
    SCOPED_TRACE(block_size);
    check_written(make_gif(61, 17, pixels, 8, block_size), pixels);
  }
}

TEST(GiflibOracle, FullTablesWithDeferredOrImmediateClears) {
  // Noise fills the 4096-entry table many times over.
  struct Case {
    int code_size;
    FullTable full_table;
    bool initial_clear;
  };
  const Case cases[] = {{8, FullTable::kDefer, true},  {8, FullTable::kDefer, false},
                        {8, FullTable::kClear, true},  {8, FullTable::kClear, false},
                        {2, FullTable::kDefer, false}, {5, FullTable::kDefer, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_size);
    const Bytes pixels = noise_pixels(301 * 97, c.code_size, 900 + c.code_size);
    check_written(make_gif(301, 97, pixels, c.code_size, 255, {c.initial_clear, c.full_table}),
                  pixels);
  }
}

TEST(GiflibOracle, StreamsWithoutAnInitialClear) {
  for (int code_size : {2, 3, 7, 8}) {
    SCOPED_TRACE(code_size);
    const Bytes pixels = noise_pixels(45 * 9, code_size, 40 + code_size);
    check_written(make_gif(45, 9, pixels, code_size, 200, {false, FullTable::kClear}), pixels);
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
