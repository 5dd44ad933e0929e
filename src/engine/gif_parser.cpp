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
//
// The file is read once, front to back, through the buffered reader: it is
// never positioned, so a pipe converts like a file.
//
// The parser drives the conversion: it walks the blocks, and for the first
// image has the BMP writer write the headers, then asks the LZW decoder for
// the image's rows one at a time, each into the slot the writer's row batch
// gives it, and hands each finished row back to the batch. The decoder knows
// nothing of where its rows go.
#include <array>

#include "engine/bmp_layout.h"
#include "engine/bmp_writer.h"
#include "engine/conversion.h"
#include "engine/input_reader.h"
#include "engine/lzw_decoder.h"

namespace brevlo {

namespace {

constexpr int kSignatureSize = 6;
constexpr int kScreenDescriptorSize = 13;
constexpr int kScreenPackedOffset = 10;
constexpr int kImageDescriptorSize = 9;
constexpr int kImageWidthOffset = 4;
constexpr int kImageHeightOffset = 6;
constexpr int kImagePackedOffset = 8;
constexpr std::uint8_t kColourTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::uint8_t kTableSizeBits = 0x07;
constexpr int kStrictTableBits = 7;  // a table of 2^8 = 256 entries
constexpr int kColourTableSize = 3 * 256;

constexpr std::uint8_t kExtensionIntroducer = 0x21;  // "!"
constexpr std::uint8_t kImageSeparator = 0x2C;       // ","
constexpr std::uint8_t kTrailer = 0x3B;              // ";"

using ScreenDescriptor = std::array<std::uint8_t, kScreenDescriptorSize>;
using ColourTable = std::array<std::uint8_t, kColourTableSize>;
using ImageDescriptor = std::array<std::uint8_t, kImageDescriptorSize>;

std::uint16_t get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

int table_bytes(std::uint8_t packed) {
  return 3 << ((packed & kTableSizeBits) + 1);
}

std::uint16_t table_entries(int size) {
  return static_cast<std::uint16_t>(size / 3);
}

// "GIF8" then any version character then "a": GIF87a, GIF89a and alike.
bool has_gif_signature(const ScreenDescriptor& head) {
  return head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8' && head[5] == 'a';
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

// The global colour table as read; size 0 when the file has none.
struct GlobalTable {
  ColourTable bytes{};
  int size = 0;
};

// Under the fixed contract the global table must be present with 256 entries;
// otherwise says which it is not.
Reason check_strict_table(std::uint8_t packed, ConversionReport& report) {
  const bool present = (packed & kColourTableFlag) != 0;
  if (present && (packed & kTableSizeBits) == kStrictTableBits) return Reason::kNone;
  report.table_entries = present ? table_entries(table_bytes(packed)) : 0;
  return present ? Reason::kTableSize : Reason::kNoColourTable;
}

// Reads the signature, the rest of the header and the global colour table, if
// any. The signature is judged on its own six bytes, so a stream that is not a
// GIF is refused without waiting for more.
Reason read_screen(InputReader& reader, const ConversionOptions& options, GlobalTable& table,
                   ConversionReport& report) {
  ScreenDescriptor screen{};
  if (read_block(reader, screen.data(), kSignatureSize) < kSignatureSize ||
      !has_gif_signature(screen))
    return Reason::kNotGif;
  constexpr int kRest = kScreenDescriptorSize - kSignatureSize;
  if (read_block(reader, screen.data() + kSignatureSize, kRest) < kRest) return Reason::kEndedEarly;
  const std::uint8_t packed = screen[kScreenPackedOffset];
  if (!options.any_colour_table) {
    const Reason reason = check_strict_table(packed, report);
    if (reason != Reason::kNone) return reason;
  }
  table.size = (packed & kColourTableFlag) != 0 ? table_bytes(packed) : 0;
  return read_block(reader, table.bytes.data(), table.size) < table.size ? Reason::kEndedEarly
                                                                         : Reason::kNone;
}

// The reason for a file that stopped before its first image could show a
// colour table: a file without a global table converts only when that image
// brings a table of its own, so one that ends or fails before is refused for
// its missing table, as the fixed contract refuses it; any other file for
// `reason`.
Reason no_table_or(const GlobalTable& global, Reason reason) {
  return global.size != 0 ? reason : Reason::kNoColourTable;
}

// Reads and drops sub-blocks up to the 0 length that ends them. Lengths are
// trusted: a file cut short shows up at the next block introducer.
void skip_sub_blocks(InputReader& reader) {
  for (std::uint8_t length = read_byte(reader); length != 0; length = read_byte(reader))
    skip(reader, length);
}

// An image after the first: its descriptor, local table, code size and data
// are read and dropped.
void skip_image(InputReader& reader) {
  ImageDescriptor descriptor{};
  read_block(reader, descriptor.data(), kImageDescriptorSize);
  const std::uint8_t packed = descriptor[kImagePackedOffset];
  if ((packed & kColourTableFlag) != 0) skip(reader, table_bytes(packed));
  read_byte(reader);  // LZW minimum code size
  skip_sub_blocks(reader);
}

// The palette of the first image: its own colour table if it has one (read
// here), else the global one.
Reason read_palette(InputReader& reader, std::uint8_t packed, const GlobalTable& global,
                    Palette& palette, ConversionReport& report) {
  if ((packed & kColourTableFlag) == 0) {
    if (global.size == 0) return Reason::kNoColourTable;
    palette = palette_from(global.bytes, static_cast<std::size_t>(global.size));
    report.table_entries = table_entries(global.size);
    return Reason::kNone;
  }
  ColourTable local{};
  const int size = table_bytes(packed);
  report.table_entries = table_entries(size);
  report.table_is_local = true;
  if (read_block(reader, local.data(), size) < size) return Reason::kEndedEarly;
  palette = palette_from(local, static_cast<std::size_t>(size));
  return Reason::kNone;
}

// What the first image's descriptor and the bytes after it say.
struct ImageHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool interlaced = false;     // rows arrive in the four passes of interlace
  std::uint8_t code_size = 0;  // the LZW minimum code size, as the file gives it
  Palette palette{};
};

// Reads the first image's descriptor, its palette and its LZW minimum code
// size.
Reason read_image_header(InputReader& reader, const GlobalTable& global, ImageHeader& image,
                         ConversionReport& report) {
  ImageDescriptor descriptor{};
  if (read_block(reader, descriptor.data(), kImageDescriptorSize) < kImageDescriptorSize)
    return no_table_or(global, Reason::kEndedEarly);
  const std::uint8_t packed = descriptor[kImagePackedOffset];
  image.width = report.width = get16(descriptor.data() + kImageWidthOffset);
  image.height = report.height = get16(descriptor.data() + kImageHeightOffset);
  image.interlaced = (packed & kInterlaceFlag) != 0;
  const Reason reason = read_palette(reader, packed, global, image.palette, report);
  if (reason != Reason::kNone) return reason;
  image.code_size = report.code_size = read_byte(reader);
  return Reason::kNone;
}

// The image data must end at its end code. A complete image may end without
// one, at its terminator, where the options allow it.
Reason judge_data_end(DataEnd end, bool complete, const ConversionOptions& options,
                      ConversionReport& report) {
  if (end != DataEnd::kTerminator) return Reason::kNone;
  report.end_code_missing = complete;
  return complete && options.end_code_optional ? Reason::kNone : Reason::kCorruptData;
}

// Decodes the image's rows, in the order the file stores them, into the slots
// the batch gives them, a run of rows up to each write the batch makes, then
// the codes past the last row, and has the rows written.
Reason convert_rows(LzwDecoder& decoder, const ImageHeader& image, const ConversionOptions& options,
                    RowBatch& batch, ConversionReport& report) {
  Reason reason = Reason::kNone;
  while (rows_finished(batch) < image.height && data_end(decoder) == DataEnd::kNotYet) {
    const RowRun run{next_row_slot(batch), slot_step(batch), rows_before_write(batch)};
    std::uint32_t filled = 0;
    reason = decode_rows(decoder, run, filled);
    // Rows the run finished before a failure are held, not yet due.
    const Reason handed = hand_over_rows(batch, filled);
    if (handed != Reason::kNone) return handed;
    if (reason != Reason::kNone) return fail_after_held_rows(batch, reason);
  }
  const bool complete = rows_finished(batch) == image.height;
  if (complete) reason = decode_past_last_row(decoder);
  if (reason == Reason::kNone)
    reason = judge_data_end(data_end(decoder), complete, options, report);
  if (reason != Reason::kNone) return fail_after_held_rows(batch, reason);
  return finish_rows(batch);
}

// Working memory could not be had: the system's error number is taken
// straight after the failed obtain.
Reason no_memory(ConversionReport& report) {
  report.system_error = platform::last_error();
  return Reason::kNoMemory;
}

// The BMP of the first image: its headers, then, unless the image is refused,
// its rows, with the decoder's and the batch's working memory obtained for it.
//
// Two orders are the fixed contract's and stay so in both modes, so that a
// file is refused alike by both: the headers are written before the image is
// judged, so that headers that cannot be written give 30001 even for an image
// that is then refused (30008 interlaced, 30004 empty); and the working memory
// is obtained before the code size is looked at, so that memory that cannot be
// had gives 30003 even for a bad code size (30004). Either code is true of
// such a file, and BREVLO32's code for a file never changes.
Reason write_image(InputReader& reader, const ImageHeader& image, const ConversionOptions& options,
                   RowBatch& batch, ConversionReport& report) {
  Reason reason = write_headers(batch, image.palette);
  if (reason != Reason::kNone) return reason;
  if (image.interlaced && !options.interlaced) return Reason::kInterlaced;
  if (image.width == 0 || image.height == 0) return Reason::kEmptyImage;
  LzwDecoder* decoder = obtain_decoder();
  if (decoder == nullptr) return no_memory(report);
  if (!obtain_slots(batch)) {
    reason = no_memory(report);
    release_decoder(decoder);
    return reason;
  }
  if (!is_valid_code_size(image.code_size)) {
    // A file that ended where its code size belongs is cut short, not corrupt.
    reason = reader.ended ? Reason::kDataCutShort : Reason::kBadCodeSize;
  } else {
    start_image_data(*decoder, reader, image.code_size, image.width);
    reason = convert_rows(*decoder, image, options, batch, report);
  }
  release_slots(batch);
  release_decoder(decoder);
  return reason;
}

// The first image, from its descriptor to the end of its data.
Reason convert_image(InputReader& reader, const GlobalTable& global,
                     const ConversionOptions& options, platform::FileHandle bmp_file,
                     ConversionReport& report) {
  ImageHeader image;
  const Reason reason = read_image_header(reader, global, image, report);
  if (reason != Reason::kNone) return reason;
  RowBatch batch = plan_rows(bmp_file, image.width, image.height, image.interlaced);
  const Reason written = write_image(reader, image, options, batch, report);
  if (written == Reason::kWriteFailed) report.system_error = batch.system_error;
  return written;
}

// Walks the blocks up to the trailer, converting the first image and
// skipping the rest.
Reason walk(InputReader& reader, platform::FileHandle bmp_file, const ConversionOptions& options,
            ConversionReport& report) {
  GlobalTable global;
  Reason reason = read_screen(reader, options, global, report);
  if (reason != Reason::kNone) return reason;

  for (;;) {
    switch (read_byte(reader)) {
      case 0:
        if (report.image_converted)
          return options.trailer_optional ? Reason::kNone : Reason::kEndedEarly;
        return no_table_or(global, Reason::kEndedEarly);
      case kExtensionIntroducer:
        read_byte(reader);  // label: every extension is skipped alike
        skip_sub_blocks(reader);
        break;
      case kImageSeparator:
        ++report.image_count;
        if (report.image_converted) {
          skip_image(reader);
          break;
        }
        reason = convert_image(reader, global, options, bmp_file, report);
        if (reason != Reason::kNone) return reason;
        report.image_converted = true;
        break;
      case kTrailer:
        return report.image_converted ? Reason::kNone : no_table_or(global, Reason::kNoImage);
      default:
        break;  // stray byte between blocks
    }
  }
}

}  // namespace

ConversionResult convert_gif(platform::FileHandle gif_file, platform::FileHandle bmp_file,
                             const ConversionOptions& options, ConversionReport& report) {
  report = {};
  InputReader reader;
  start_reading(reader, gif_file);
  report.reason = walk(reader, bmp_file, options, report);
  // A read that failed ended the file as its end would, and the failure that
  // followed is reported with the read's error.
  if (report.reason != Reason::kWriteFailed && report.reason != Reason::kNoMemory &&
      report.reason != Reason::kNone)
    report.system_error = reader.system_error;
  return code_for(report.reason);
}

}  // namespace brevlo
