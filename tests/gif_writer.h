// A small GIF writer for tests, with control over every code, code width and
// sub-block size, so that both well-formed and deliberately broken streams can
// be built.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brevlo::test {

using Bytes = std::vector<std::uint8_t>;

struct Code {
  int value;
  int width;
};

enum class FullTable { kClear, kDefer };

struct EncodeOptions {
  bool initial_clear = true;
  FullTable full_table = FullTable::kClear;
};

// LZW-encodes pixels (each below 2^code_size) into codes with the widths a
// decoder expects, ending with the end code.
std::vector<Code> lzw_encode(const Bytes& pixels, int code_size, EncodeOptions options = {});

// Gives each raw code value the width a decoder is reading at when it arrives.
std::vector<Code> with_widths(const std::vector<int>& values, int code_size);

// Packs codes least significant bit first.
Bytes pack_codes(const std::vector<Code>& codes);

// Splits data into sub-blocks of at most block_size bytes, each after its
// length byte; a terminator is not added.
Bytes sub_blocks(const Bytes& data, int block_size);

// A GIF's parts in file order; each is written verbatim.
struct GifParts {
  std::string signature = "GIF89a";
  std::uint16_t screen_width = 0;  // 0: the image width
  std::uint16_t screen_height = 0;
  std::uint8_t screen_packed = 0xF7;  // global table of 256 entries
  Bytes global_table;                 // empty: a 768-byte ramp
  bool omit_global_table = false;     // write no global table bytes at all
  Bytes before_image;                 // extensions or stray bytes
  std::uint16_t width = 1;
  std::uint16_t height = 1;
  std::uint8_t image_packed = 0;
  Bytes local_table;
  std::uint8_t code_size = 8;
  Bytes data;                  // sub-blocks of image data
  Bytes after_data = {0x00};   // the terminator
  Bytes after_image = {0x3B};  // the trailer
};

Bytes assemble(const GifParts& parts);

// A 768-byte table whose entry i is (i, 255 - i, i ^ 0x5A).
Bytes test_colour_table();

// A complete, valid GIF of the given pixels.
Bytes make_gif(int width, int height, const Bytes& pixels, int code_size = 8, int block_size = 255,
               EncodeOptions options = {});

// The rows of pixels (top row first) in the order an interlaced image stores
// them: every 8th row from row 0, every 8th from 4, every 4th from 2, every
// 2nd from 1.
Bytes interlaced_order(const Bytes& pixels, int width, int height);

// One image of an animation, with the graphic control extension before it.
struct FrameParts {
  std::uint16_t left = 0;
  std::uint16_t top = 0;
  std::uint16_t width = 1;
  std::uint16_t height = 1;
  Bytes pixels;             // width * height indices, top row first, below 2^code_size
  int disposal = 0;         // the extension's disposal method
  int transparent = -1;     // the transparent index, or -1 for none
  std::uint16_t delay = 0;  // hundredths of a second
  bool control = true;      // false: no graphic control extension at all
  Bytes local_table;        // empty: none; else 2^n triples
  bool interlaced = false;  // rows stored in the interlaced order
  std::uint8_t code_size = 8;
};

// A frame of the given place, size and pixels; the rest as FrameParts says.
FrameParts frame_at(int left, int top, int width, int height, const Bytes& pixels);

// The frame's extension and image block, its data encoded whole and ended
// with the terminator: a part of an animation's bytes, between the screen's
// global table and the trailer.
Bytes frame_block(const FrameParts& frame);

// An animation of the given screen with the test colour table as its global
// table (background index 0), its frames, and the trailer unless told not to.
Bytes animation_gif(std::uint16_t width, std::uint16_t height,
                    const std::vector<FrameParts>& frames, bool trailer = true);

// Extensions commonly found before an image.
Bytes graphic_control_extension();
Bytes comment_extension(const std::string& text);

// Deterministic pseudo-random pixels below 2^bits.
Bytes noise_pixels(int count, int bits, std::uint32_t seed);

}  // namespace brevlo::test
