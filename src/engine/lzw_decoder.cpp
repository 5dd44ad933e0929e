// GIF LZW decoding.
//
// Codes are variable width, packed least significant bit first into data
// sub-blocks (a length byte of 1..255, then that many bytes; a 0 length ends the
// image data). With a minimum code size s: codes below 2^s are single pixels,
// 2^s is the clear code, 2^s + 1 the end code, and the table grows from 2^s + 2.
// Codes start s + 1 bits wide and widen each time the next free code reaches
// the next power of two, up to 12 bits and 4096 entries; a full table stays as
// it is until a clear code.
#include "engine/lzw_decoder.h"

#include <algorithm>

#include "engine/bmp_layout.h"
#include "engine/input_reader.h"

namespace brevlo {

namespace {

constexpr int kMinCodeSize = 2;
constexpr int kMaxCodeSize = 8;
constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = 1 << kMaxCodeWidth;  // 4096 codes
constexpr int kMinRowBuffer = 2048;
constexpr int kNone = -1;  // no previous code / first pixel

// The decoder's four blocks of working memory, obtained once per image.
struct WorkingMemory {
  std::uint8_t* stack = nullptr;    // one string's pixels, last to first
  std::uint16_t* prefix = nullptr;  // each code's string without its last pixel
  std::uint8_t* suffix = nullptr;   // each code's last pixel
  std::uint8_t* row = nullptr;      // the row being assembled, zero-padded to the stride
};

void release_all(WorkingMemory& memory) {
  platform::release(memory.row);
  platform::release(memory.suffix);
  platform::release(memory.prefix);
  platform::release(memory.stack);
  memory = {};
}

// Obtains the blocks in order; on any failure releases those already held.
bool obtain_all(WorkingMemory& memory, std::size_t row_size) {
  memory.stack = static_cast<std::uint8_t*>(platform::obtain(kTableSize, false));
  if (memory.stack != nullptr)
    memory.prefix =
        static_cast<std::uint16_t*>(platform::obtain(kTableSize * sizeof(std::uint16_t), false));
  if (memory.prefix != nullptr)
    memory.suffix = static_cast<std::uint8_t*>(platform::obtain(kTableSize, false));
  if (memory.suffix != nullptr)
    memory.row = static_cast<std::uint8_t*>(platform::obtain(row_size, true));
  if (memory.row != nullptr) return true;
  release_all(memory);
  return false;
}

// Takes the next byte of image data, starting a new sub-block when the current
// one is used up. A 0 length, the end of the file or a short sub-block is
// corrupt image data.
ConversionResult fetch_data_byte(ConversionState& state, std::uint32_t& byte) {
  SubBlock& block = state.sub_block;
  if (block.position >= block.end) {
    std::int32_t length = read_byte(state.reader);
    if (length < 1) return kBadGif;
    std::int32_t got = read_block(state.reader, block.bytes.data(), length);
    if (got < length) return kBadGif;
    block.position = 0;
    block.end = got;
  }
  byte = block.bytes[static_cast<std::size_t>(block.position++)];
  return kSuccess;
}

// Bits of the current data byte and how many of its low bits are already used
// (8: used up). A byte is fetched only when a code needs its bits.
struct BitReader {
  std::uint32_t byte = 0;
  int used = 8;
};

// Reads one code of `width` bits; a code may span three bytes and cross
// sub-blocks.
ConversionResult read_code(ConversionState& state, BitReader& bits, int width, int& code) {
  ConversionResult result = kSuccess;
  if (bits.used == 8) {
    if ((result = fetch_data_byte(state, bits.byte)) != kSuccess) return result;
    bits.used = 0;
  }
  const int old_used = bits.used;
  const int need = width + old_used;
  std::uint32_t gathered = bits.byte >> old_used;
  if (need <= 8) {
    bits.used = need;
  } else {
    if ((result = fetch_data_byte(state, bits.byte)) != kSuccess) return result;
    gathered |= bits.byte << (8 - old_used);
    if (need <= 16) {
      bits.used = need - 8;
    } else {
      if ((result = fetch_data_byte(state, bits.byte)) != kSuccess) return result;
      gathered |= bits.byte << (16 - old_used);
      bits.used = need - 16;
    }
  }
  code = static_cast<int>(gathered & ((1U << width) - 1));
  return kSuccess;
}

// Where decoded pixels go: the row buffer, written out row by row from the
// bottom of the file upwards. Pixels past the last row are dropped.
struct RowSink {
  platform::FileHandle file;
  std::uint8_t* row;
  std::uint32_t width;
  std::uint32_t height;
  std::uint64_t stride;
  std::uint32_t column = 0;
  std::uint32_t rows_written = 0;
};

ConversionResult put_pixel(RowSink& sink, std::uint8_t pixel) {
  if (sink.rows_written == sink.height) return kSuccess;
  sink.row[sink.column++] = pixel;
  if (sink.column < sink.width) return kSuccess;
  sink.column = 0;
  std::uint64_t offset = row_offset(sink.stride, sink.height, sink.rows_written++);
  if (!platform::seek(sink.file, offset) || !platform::write(sink.file, sink.row, sink.stride))
    return kOpenFailed;
  return kSuccess;
}

// A stream that ends before any row is complete still leaves a file of the full
// announced size: its last byte is written, and the gap before it reads as zero.
ConversionResult complete_file_size(const RowSink& sink) {
  if (sink.rows_written > 0) return kSuccess;
  const std::uint8_t zero = 0;
  std::uint64_t last_byte = kBmpPixelOffset + sink.stride * sink.height - 1;
  if (!platform::seek(sink.file, last_byte) || !platform::write(sink.file, &zero, 1))
    return kOpenFailed;
  return kSuccess;
}

// The code table and the decoder's running state.
struct LzwState {
  int clear_code;
  int next_free;
  int width;
  int width_limit;
  int previous = kNone;
  int first_pixel = kNone;
};

void restart_table(LzwState& lzw, int code_size) {
  lzw.next_free = lzw.clear_code + 2;
  lzw.width = code_size + 1;
  lzw.width_limit = 1 << lzw.width;
  lzw.previous = kNone;
  lzw.first_pixel = kNone;
}

// Emits the string of `code` (already checked to be at most next_free) and adds
// the table entry it implies.
ConversionResult expand_code(LzwState& lzw, const WorkingMemory& memory, RowSink& sink, int code) {
  int depth = 0;
  int x = code;
  if (code == lzw.next_free) {
    if (lzw.previous == kNone) return kBadGif;
    memory.stack[depth++] = static_cast<std::uint8_t>(lzw.first_pixel);
    x = lzw.previous;
  }
  while (x >= lzw.clear_code) {
    memory.stack[depth++] = memory.suffix[x];
    x = memory.prefix[x];
  }
  lzw.first_pixel = x;
  ConversionResult result = put_pixel(sink, static_cast<std::uint8_t>(x));
  while (result == kSuccess && depth > 0) result = put_pixel(sink, memory.stack[--depth]);
  if (result != kSuccess) return result;

  if (lzw.next_free < kTableSize && lzw.previous != kNone) {
    memory.prefix[lzw.next_free] = static_cast<std::uint16_t>(lzw.previous);
    memory.suffix[lzw.next_free] = static_cast<std::uint8_t>(lzw.first_pixel);
    ++lzw.next_free;
    if (lzw.next_free == lzw.width_limit && lzw.width < kMaxCodeWidth) {
      ++lzw.width;
      lzw.width_limit = 1 << lzw.width;
    }
  }
  lzw.previous = code;
  return kSuccess;
}

ConversionResult run_decoder(ConversionState& state, int code_size, const WorkingMemory& memory,
                             RowSink& sink) {
  LzwState lzw{};
  lzw.clear_code = 1 << code_size;
  const int end_code = lzw.clear_code + 1;
  restart_table(lzw, code_size);
  state.sub_block.position = 0;
  state.sub_block.end = 0;
  BitReader bits;

  for (;;) {
    int code = 0;
    ConversionResult result = read_code(state, bits, lzw.width, code);
    if (result != kSuccess) return result;
    if (code == end_code) {
      // The rest of the current sub-block is ignored; the next byte of the file
      // must be the terminator (the end of the file reads as 0 too).
      if (read_byte(state.reader) != 0) return kBadGif;
      return complete_file_size(sink);
    }
    if (code > lzw.next_free) return kBadGif;
    if (code == lzw.clear_code) {
      restart_table(lzw, code_size);
      continue;
    }
    if ((result = expand_code(lzw, memory, sink, code)) != kSuccess) return result;
  }
}

}  // namespace

ConversionResult decode_image(ConversionState& state, std::uint8_t code_size,
                              platform::FileHandle bmp_file) {
  const auto width = static_cast<std::uint32_t>(state.image_width);
  const auto height = static_cast<std::uint32_t>(state.image_height);
  const std::uint64_t stride = stride_for(width);
  WorkingMemory memory;
  if (!obtain_all(memory, std::max<std::size_t>(kMinRowBuffer, stride))) return kNoMemory;
  if (code_size < kMinCodeSize || code_size > kMaxCodeSize) {
    release_all(memory);
    return kBadGif;
  }
  RowSink sink{bmp_file, memory.row, width, height, stride};
  ConversionResult result = run_decoder(state, code_size, memory, sink);
  release_all(memory);
  return result;
}

}  // namespace brevlo
