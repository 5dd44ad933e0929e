// GIF file structure, as far as the converter reads it (little-endian):
//
//   Header and logical screen descriptor, 13 bytes
//     0   6  signature and version, "GIF87a" or "GIF89a"
//     6   2  logical screen width                  (not used)
//     8   2  logical screen height                 (not used)
//     10  1  packed: bit 7 global colour table present,
//               bits 0-2 N, a table of 2^(N+1) entries
//     11  1  background colour index               (not used)
//     12  1  pixel aspect ratio                    (not used)
//   Global colour table: 2^(N+1) red, green, blue triples (768 bytes for 256)
//   Blocks, each introduced by one byte:
//     "!" (0x21)  extension: a label byte, then sub-blocks (length byte 1..255
//                 and that many bytes) up to a 0 length
//     "," (0x2C)  image: a 9-byte descriptor, an optional local colour table,
//                 the LZW minimum code size, then data sub-blocks up to a 0 length
//     ";" (0x3B)  trailer: the end of the GIF
//   Image descriptor, 9 bytes
//     0   2  left, 2  2  top                       (not used)
//     4   2  width, 6  2  height
//     8   1  packed: bit 7 local colour table present, bit 6 interlaced,
//               bits 0-2 N, a local table of 2^(N+1) entries
//
// Any other byte between blocks is skipped; a 0 byte there, like the end of the
// file, means the GIF ended early.
#include "engine/gif_parser.h"

#include <array>

#include "engine/bmp_layout.h"
#include "engine/bmp_writer.h"
#include "engine/input_reader.h"
#include "engine/lzw_decoder.h"

namespace brevlo {

namespace {

constexpr int kScreenDescriptorSize = 13;
constexpr int kScreenPackedOffset = 10;
constexpr int kImageDescriptorSize = 9;
constexpr int kImagePackedOffset = 8;
constexpr std::uint8_t kColourTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::uint8_t kTableSizeBits = 0x07;
constexpr int kSupportedDepth = 8;
constexpr int kColourTableSize = 3 * 256;

constexpr std::uint8_t kExtensionIntroducer = 0x21;  // "!"
constexpr std::uint8_t kImageSeparator = 0x2C;       // ","
constexpr std::uint8_t kTrailer = 0x3B;              // ";"

using ColourTable = std::array<std::uint8_t, kColourTableSize>;
using ImageDescriptor = std::array<std::uint8_t, kImageDescriptorSize>;

std::uint16_t get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

int table_bytes(std::uint8_t packed) {
  return 3 << ((packed & kTableSizeBits) + 1);
}

// Red, green, blue triples become blue, green, red, 0 entries; entries past
// the table's size stay zero.
Palette palette_from(const ColourTable& table, std::size_t table_size) {
  Palette palette{};
  for (std::size_t i = 0; i * 3 < table_size; ++i) {
    palette[i * 4 + 0] = table[i * 3 + 2];  // blue
    palette[i * 4 + 1] = table[i * 3 + 1];  // green
    palette[i * 4 + 2] = table[i * 3 + 0];  // red
  }
  return palette;
}

// Reads exactly count bytes straight from the file, bypassing the reader.
bool read_exactly(platform::FileHandle file, std::uint8_t* destination, std::uint32_t count) {
  while (count > 0) {
    std::int64_t got = platform::read(file, destination, count);
    if (got <= 0) return false;
    destination += got;
    count -= static_cast<std::uint32_t>(got);
  }
  return true;
}

// The global colour table as read; size 0 when the file has none.
struct GlobalTable {
  ColourTable bytes{};
  int size = 0;
};

std::uint16_t table_entries(int size) {
  return static_cast<std::uint16_t>(size / 3);
}

// Under the fixed contract the global table must be present with 256 entries;
// otherwise says which it is not.
ConversionResult check_strict_table(std::uint8_t packed, ConversionReport& report) {
  const bool present = (packed & kColourTableFlag) != 0;
  if (present && (packed & kTableSizeBits) + 1 == kSupportedDepth) return kSuccess;
  report.reason = present ? Reason::kTableSize : Reason::kNoColourTable;
  report.table_entries = present ? table_entries(table_bytes(packed)) : 0;
  return kUnsupported;
}

// Reads the header and the global colour table, if any, and leaves the file
// at the first block.
ConversionResult read_screen(platform::FileHandle gif_file, const ConversionOptions& options,
                             GlobalTable& table, ConversionReport& report) {
  std::array<std::uint8_t, kScreenDescriptorSize> screen{};
  if (!platform::seek(gif_file, 0) || !read_exactly(gif_file, screen.data(), screen.size()))
    return kEarlyEnd;
  const std::uint8_t packed = screen[kScreenPackedOffset];
  if (!options.any_colour_table && check_strict_table(packed, report) != kSuccess)
    return kUnsupported;
  table.size = (packed & kColourTableFlag) != 0 ? table_bytes(packed) : 0;
  const auto size = static_cast<std::uint32_t>(table.size);
  if (!read_exactly(gif_file, table.bytes.data(), size)) return kEarlyEnd;
  return platform::seek(gif_file, kScreenDescriptorSize + size) ? kSuccess : kEarlyEnd;
}

// A file without a global table converts only when its first image brings a
// table of its own; one that ends or fails before showing such a table is
// refused for its missing table, as the fixed contract refuses it.
ConversionResult before_any_table(const GlobalTable& global, ConversionResult result,
                                  ConversionReport& report) {
  if (global.size != 0) return result;
  report.reason = Reason::kNoColourTable;
  return kUnsupported;
}

// Reads and drops sub-blocks up to the 0 length that ends them. Lengths are
// trusted: a file cut short shows up at the next block introducer.
void skip_sub_blocks(ConversionState& state) {
  for (std::uint8_t length = read_byte(state.reader); length != 0;
       length = read_byte(state.reader)) {
    read_block(state.reader, state.sub_block.bytes.data(), length);
  }
}

void skip_bytes(ConversionState& state, int count) {
  while (count > 0) {
    int chunk = count < kSubBlockBufferSize ? count : kSubBlockBufferSize;
    read_block(state.reader, state.sub_block.bytes.data(), chunk);
    count -= chunk;
  }
}

// An image after the first: its descriptor, local table, code size and data
// are read and dropped.
void skip_image(ConversionState& state) {
  ImageDescriptor descriptor{};
  read_block(state.reader, descriptor.data(), kImageDescriptorSize);
  std::uint8_t packed = descriptor[kImagePackedOffset];
  if ((packed & kColourTableFlag) != 0) skip_bytes(state, table_bytes(packed));
  read_byte(state.reader);  // LZW minimum code size
  skip_sub_blocks(state);
}

// The palette of the first image: its own colour table if it has one (read
// here), else the global one.
ConversionResult read_palette(ConversionState& state, std::uint8_t packed,
                              const GlobalTable& global, Palette& palette,
                              ConversionReport& report) {
  if ((packed & kColourTableFlag) == 0) {
    if (global.size == 0) return before_any_table(global, kSuccess, report);
    palette = palette_from(global.bytes, static_cast<std::size_t>(global.size));
    report.table_entries = table_entries(global.size);
    return kSuccess;
  }
  ColourTable local{};
  const int size = table_bytes(packed);
  report.table_entries = table_entries(size);
  report.table_is_local = true;
  if (read_block(state.reader, local.data(), size) < size) return kEarlyEnd;
  palette = palette_from(local, static_cast<std::size_t>(size));
  return kSuccess;
}

// The first image, up to the end of its data.
ConversionResult convert_image(ConversionState& state, const GlobalTable& global,
                               const ConversionOptions& options, platform::FileHandle bmp_file,
                               ConversionReport& report) {
  ImageDescriptor descriptor{};
  if (read_block(state.reader, descriptor.data(), kImageDescriptorSize) < kImageDescriptorSize)
    return before_any_table(global, kEarlyEnd, report);
  const std::uint8_t packed = descriptor[kImagePackedOffset];
  const bool interlaced = (packed & kInterlaceFlag) != 0;
  report.width = get16(descriptor.data() + 4);
  report.height = get16(descriptor.data() + 6);
  Palette palette{};
  ConversionResult result = read_palette(state, packed, global, palette, report);
  if (result != kSuccess) return result;
  const std::uint8_t code_size = read_byte(state.reader);
  report.code_size = code_size;
  state.image_width = static_cast<std::int32_t>(report.width);
  state.image_height = static_cast<std::int32_t>(report.height);
  state.interlaced = interlaced;
  result = write_headers(bmp_file, report.width, report.height, kSupportedDepth, palette);
  if (result != kSuccess) return result;
  if (interlaced && !options.interlaced) {
    report.reason = Reason::kInterlaced;
    return kUnsupported;
  }
  if (report.width == 0 || report.height == 0) {
    report.reason = Reason::kEmptyImage;
    return kBadGif;
  }
  result = decode_image(state, code_size, bmp_file);
  if (result == kBadGif && !valid_code_size(code_size)) report.reason = Reason::kBadCodeSize;
  return result;
}

// Walks the blocks up to the trailer, converting the first image and
// skipping the rest.
ConversionResult walk(ConversionState& state, platform::FileHandle gif_file,
                      platform::FileHandle bmp_file, const ConversionOptions& options,
                      ConversionReport& report) {
  reset(state.reader, gif_file);
  GlobalTable global;
  ConversionResult result = read_screen(gif_file, options, global, report);
  if (result != kSuccess) return result;

  const bool& image_converted = report.image_converted;
  for (;;) {
    const std::uint8_t introducer = read_byte(state.reader);
    switch (introducer) {
      case 0:
        if (image_converted && options.trailer_optional) return kSuccess;
        return image_converted ? kEarlyEnd : before_any_table(global, kEarlyEnd, report);
      case kExtensionIntroducer:
        read_byte(state.reader);  // label: every extension is skipped alike
        skip_sub_blocks(state);
        break;
      case kImageSeparator:
        ++report.image_count;
        if (image_converted) {
          skip_image(state);
          break;
        }
        result = convert_image(state, global, options, bmp_file, report);
        if (result != kSuccess) return result;
        report.image_converted = true;
        break;
      case kTrailer:
        if (image_converted) return kSuccess;
        report.reason = Reason::kNoImage;
        return before_any_table(global, kBadGif, report);
      default:
        break;  // stray byte between blocks
    }
  }
}

// The reason a result code gives when no step named a more precise one.
Reason reason_for(ConversionResult result) {
  switch (result) {
    case kSuccess:
      return Reason::kNone;
    case kNoMemory:
      return Reason::kNoMemory;
    case kOpenFailed:
      return Reason::kWriteFailed;
    case kEarlyEnd:
      return Reason::kEndedEarly;
    default:
      return Reason::kCorruptData;
  }
}

}  // namespace

ConversionResult parse(ConversionState& state, platform::FileHandle gif_file,
                       platform::FileHandle bmp_file, const ConversionOptions& options,
                       ConversionReport& report) {
  const ConversionResult result = walk(state, gif_file, bmp_file, options, report);
  if (result == kSuccess || report.reason == Reason::kNone) report.reason = reason_for(result);
  return result;
}

}  // namespace brevlo
