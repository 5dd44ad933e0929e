#include "engine/gif_blocks.h"

namespace brevlo {

namespace {

constexpr int kSignatureSize = 6;
constexpr int kScreenDescriptorSize = 13;
constexpr int kScreenWidthOffset = 6;
constexpr int kScreenHeightOffset = 8;
constexpr int kScreenPackedOffset = 10;
constexpr int kBackgroundOffset = 11;
constexpr int kImageDescriptorSize = 9;
constexpr int kImageLeftOffset = 0;
constexpr int kImageTopOffset = 2;
constexpr int kImageWidthOffset = 4;
constexpr int kImageHeightOffset = 6;
constexpr int kImagePackedOffset = 8;
constexpr std::uint8_t kColourTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::uint8_t kTableSizeBits = 0x07;
constexpr int kStrictTableBits = 7;  // a table of 2^8 = 256 entries

using ScreenDescriptor = std::array<std::uint8_t, kScreenDescriptorSize>;
using ImageDescriptor = std::array<std::uint8_t, kImageDescriptorSize>;

std::uint16_t get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

int table_bytes(std::uint8_t packed) {
  return 3 << ((packed & kTableSizeBits) + 1);
}

// Entries of the table of the given packed byte's size field.
std::uint16_t table_entries_of(std::uint8_t packed) {
  return static_cast<std::uint16_t>(table_bytes(packed) / 3);
}

// "GIF8" then any version character then "a": GIF87a, GIF89a and alike.
bool has_gif_signature(const ScreenDescriptor& head) {
  return head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8' && head[5] == 'a';
}

// Under the fixed contract the global table must be present with 256 entries;
// otherwise says which it is not.
Reason check_strict_table(std::uint8_t packed, ConversionReport& report) {
  const bool present = (packed & kColourTableFlag) != 0;
  if (present && (packed & kTableSizeBits) == kStrictTableBits) return Reason::kNone;
  report.table_entries = present ? table_entries_of(packed) : 0;
  return present ? Reason::kTableSize : Reason::kNoColourTable;
}

}  // namespace

Reason read_screen(InputReader& reader, const ConversionOptions& options, GifScreen& screen,
                   ConversionReport& report) {
  ScreenDescriptor head{};
  if (read_block(reader, head.data(), kSignatureSize) < kSignatureSize || !has_gif_signature(head))
    return Reason::kNotGif;
  constexpr int kRest = kScreenDescriptorSize - kSignatureSize;
  if (read_block(reader, head.data() + kSignatureSize, kRest) < kRest) return Reason::kEndedEarly;
  const std::uint8_t packed = head[kScreenPackedOffset];
  if (!options.any_colour_table) {
    const Reason reason = check_strict_table(packed, report);
    if (reason != Reason::kNone) return reason;
  }
  screen.width = get16(head.data() + kScreenWidthOffset);
  screen.height = get16(head.data() + kScreenHeightOffset);
  screen.background_index = head[kBackgroundOffset];
  GlobalTable& table = screen.table;
  table.size = (packed & kColourTableFlag) != 0 ? table_bytes(packed) : 0;
  return read_block(reader, table.bytes.data(), table.size) < table.size ? Reason::kEndedEarly
                                                                         : Reason::kNone;
}

Reason no_table_or(const GlobalTable& global, Reason reason) {
  return global.size != 0 ? reason : Reason::kNoColourTable;
}

void skip_sub_blocks(InputReader& reader) {
  for (std::uint8_t length = read_byte(reader); length != 0; length = read_byte(reader))
    skip(reader, length);
}

Reason read_image_header(InputReader& reader, ImageHeader& image) {
  ImageDescriptor descriptor{};
  image = ImageHeader{};
  if (read_block(reader, descriptor.data(), kImageDescriptorSize) < kImageDescriptorSize)
    return Reason::kEndedEarly;
  const std::uint8_t packed = descriptor[kImagePackedOffset];
  image.left = get16(descriptor.data() + kImageLeftOffset);
  image.top = get16(descriptor.data() + kImageTopOffset);
  image.width = get16(descriptor.data() + kImageWidthOffset);
  image.height = get16(descriptor.data() + kImageHeightOffset);
  image.interlaced = (packed & kInterlaceFlag) != 0;
  image.has_local_table = (packed & kColourTableFlag) != 0;
  if (image.has_local_table) {
    image.local_entries = table_entries_of(packed);
    const int size = table_bytes(packed);
    if (read_block(reader, image.local_table.data(), size) < size) return Reason::kEndedEarly;
  }
  image.code_size = read_byte(reader);
  return Reason::kNone;
}

Reason read_first_image_header(InputReader& reader, const GlobalTable& global, ImageHeader& image,
                               ConversionReport& report) {
  const Reason reason = read_image_header(reader, image);
  report.width = image.width;
  report.height = image.height;
  report.code_size = image.code_size;
  report.table_is_local = image.has_local_table;
  if (image.has_local_table) {
    report.table_entries = image.local_entries;
    return reason;
  }
  if (reason != Reason::kNone) return no_table_or(global, reason);
  if (global.size == 0) return Reason::kNoColourTable;
  report.table_entries = static_cast<std::uint16_t>(global.size / 3);
  return Reason::kNone;
}

Reason end_without_trailer(bool image_converted, const ConversionOptions& options,
                           const GlobalTable& global) {
  if (image_converted) return options.trailer_optional ? Reason::kNone : Reason::kEndedEarly;
  return no_table_or(global, Reason::kEndedEarly);
}

Reason end_at_trailer(bool image_converted, const GlobalTable& global) {
  return image_converted ? Reason::kNone : no_table_or(global, Reason::kNoImage);
}

Reason judge_data_end(DataEnd end, bool complete, const ConversionOptions& options,
                      ConversionReport& report) {
  if (end != DataEnd::kTerminator) return Reason::kNone;
  report.end_code_missing = complete;
  return complete && options.end_code_optional ? Reason::kNone : Reason::kCorruptData;
}

Reason end_image_data(LzwDecoder& decoder, bool complete, const ConversionOptions& options,
                      ConversionReport& report) {
  const Reason reason = complete ? decode_past_last_row(decoder) : Reason::kNone;
  if (reason != Reason::kNone) return reason;
  return judge_data_end(data_end(decoder), complete, options, report);
}

Reason judge_code_size(const InputReader& reader, std::uint8_t code_size) {
  if (is_valid_code_size(code_size)) return Reason::kNone;
  return reader.ended ? Reason::kDataCutShort : Reason::kBadCodeSize;
}

Reason no_memory(ConversionReport& report) {
  report.system_error = platform::last_error();
  return Reason::kNoMemory;
}

void note_read_error(const InputReader& reader, ConversionReport& report) {
  if (report.reason != Reason::kWriteFailed && report.reason != Reason::kNoMemory &&
      report.reason != Reason::kNone)
    report.system_error = reader.system_error;
}

}  // namespace brevlo
