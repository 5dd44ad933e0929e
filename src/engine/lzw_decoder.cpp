// GIF LZW decoding.
//
// Codes are variable width, packed least significant bit first into data
// sub-blocks (a length byte of 1..255, then that many bytes; a 0 length ends the
// image data). With a minimum code size s: codes below 2^s are single pixels,
// 2^s is the clear code, 2^s + 1 the end code, and the table grows from 2^s + 2.
// Codes start s + 1 bits wide and widen each time the next free code reaches
// the next power of two, up to 12 bits and 4096 entries; a full table stays as
// it is until a clear code.
//
// Each table entry keeps its string's length and first pixel, and the string
// itself as a chain of 8-pixel blocks: the entry holds the last 1..8 pixels and
// the code of the string's first (length - 1) / 8 * 8 pixels, an entry whose
// length is a multiple of 8. A string is written straight to its place in the
// row, one 8-byte store per block, from its last block back to its first.
#include "engine/lzw_decoder.h"

#include <algorithm>
#include <cstring>

#include "engine/bmp_layout.h"
#include "engine/bmp_writer.h"
#include "engine/input_reader.h"

namespace brevlo {

namespace {

constexpr int kMinCodeSize = 2;
constexpr int kMaxCodeSize = 8;
constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = 1 << kMaxCodeWidth;  // 4096 codes
constexpr std::uint64_t kMinRowBuffer = 2048;
constexpr int kNone = -1;       // no previous code
constexpr unsigned kBlock = 8;  // pixels per stored block of a string

// The code table. Tails hold pixels from the low byte up; bytes past a
// string's end are zero.
struct CodeTable {
  std::uint64_t tail[kTableSize];  // the string's last 1..8 pixels
  std::uint16_t head[kTableSize];  // code of the string without its tail
  std::uint16_t length[kTableSize];
  std::uint8_t first[kTableSize];  // the string's first pixel
  // A string that runs past the end of a row, before it is split between rows.
  std::uint8_t spill[kTableSize + kBlock];
};

// The decoder's working memory, obtained once per image.
struct WorkingMemory {
  CodeTable* table = nullptr;
  std::uint8_t* rows = nullptr;  // the row batch's slots, zero-filled
};

void release_all(WorkingMemory& memory) {
  platform::release(memory.rows);
  platform::release(memory.table);
  memory = {};
}

// Obtains the blocks in order; on any failure releases those already held.
bool obtain_all(WorkingMemory& memory, std::uint64_t rows_size) {
  memory.table = static_cast<CodeTable*>(platform::obtain(sizeof(CodeTable), false));
  if (memory.table != nullptr)
    memory.rows = static_cast<std::uint8_t*>(platform::obtain(rows_size, true));
  if (memory.rows != nullptr) return true;
  release_all(memory);
  return false;
}

std::uint64_t load64(const std::uint8_t* from) {
  std::uint64_t value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

void store64(std::uint8_t* to, std::uint64_t value) {
  std::memcpy(to, &value, sizeof value);
}

// Bytes of a string of this length as written: whole 8-byte blocks.
unsigned written_span(unsigned length) {
  return ((length - 1) | (kBlock - 1)) + 1;
}

// Writes the string of code to out[0, length) and zero or garbage to the rest
// of out[0, written_span(length)).
void write_string(const CodeTable& table, unsigned code, std::uint8_t* out, unsigned length) {
  std::uint8_t* at = out + ((length - 1) & ~(kBlock - 1));
  for (;;) {
    store64(at, table.tail[code]);
    if (at == out) return;
    at -= kBlock;
    code = table.head[code];
  }
}

// Adds the string of `previous` followed by `pixel` as entry `code`. The new
// pixel either extends the previous string's tail or starts a tail of its own.
void add_entry(CodeTable& table, unsigned code, unsigned previous, std::uint8_t pixel) {
  const unsigned length = table.length[previous];
  const unsigned used = length % kBlock;  // pixels in the previous string's tail
  const std::uint64_t kept = used != 0 ? table.tail[previous] : 0;
  table.tail[code] = kept | std::uint64_t{pixel} << (8 * used);
  table.head[code] = used != 0 ? table.head[previous] : static_cast<std::uint16_t>(previous);
  table.length[code] = static_cast<std::uint16_t>(length + 1);
  table.first[code] = table.first[previous];
}

// The data bits not yet taken as codes, least significant first, and the
// unread part of the current sub-block. Bits above `count` are either zero or
// the very bytes at `next` onwards, so loading those bytes again changes
// nothing. Bytes are only ever taken from the current sub-block: the next one
// is read when a code needs its bits, never before.
struct BitStream {
  std::uint64_t bits = 0;
  int count = 0;
  const std::uint8_t* next = nullptr;
  const std::uint8_t* end = nullptr;
};

// Starts the next data sub-block. A 0 length, the end of the file or a short
// sub-block is corrupt image data.
ConversionResult start_sub_block(ConversionState& state, BitStream& stream) {
  SubBlock& block = state.sub_block;
  const std::int32_t length = read_byte(state.reader);
  if (length < 1) return kBadGif;
  const std::int32_t got = read_block(state.reader, block.bytes.data(), length);
  if (got < length) return kBadGif;
  stream.next = block.bytes.data();
  stream.end = stream.next + got;
  return kSuccess;
}

// Takes bytes until at least `width` bits are held, crossing into following
// sub-blocks as needed. Never holds more than 63 bits.
ConversionResult refill_slowly(ConversionState& state, BitStream& stream, int width) {
  while (stream.count < width) {
    if (stream.next == stream.end) {
      const ConversionResult result = start_sub_block(state, stream);
      if (result != kSuccess) return result;
    }
    while (stream.next != stream.end && stream.count <= 55) {
      stream.bits |= std::uint64_t{*stream.next++} << stream.count;
      stream.count += 8;
    }
  }
  return kSuccess;
}

// Makes sure `width` bits are held. With 8 bytes left in the sub-block, one
// load tops the buffer up to 56..63 bits whether it was needed or not.
inline ConversionResult refill(ConversionState& state, BitStream& stream, int width) {
  if (stream.end - stream.next >= 8) [[likely]] {
    stream.bits |= load64(stream.next) << stream.count;
    stream.next += (63 - stream.count) >> 3;
    stream.count |= 56;
    return kSuccess;
  }
  if (stream.count >= width) return kSuccess;
  // Worked on a copy, so that the caller's stream never leaves registers.
  BitStream copy = stream;
  const ConversionResult result = refill_slowly(state, copy, width);
  stream = copy;
  return result;
}

// Where pixels go: `out` in the slot of the row being filled, which ends at
// `row_end`. Once every row is finished both point at the same place and
// further pixels are dropped.
struct RowCursor {
  std::uint8_t* out;
  std::uint8_t* row_end;
};

// Called when the row at the cursor is full: hands it to the batch, writing
// the batch when it is full or the image is complete, and moves to the next
// row's slot.
ConversionResult finish_row(RowBatch& batch, std::uint32_t width, RowCursor& cursor) {
  ++batch.filled;
  const bool image_done = rows_finished(batch) == batch.height;
  if (image_done || batch.filled == batch.capacity) {
    const ConversionResult result = write_batch(batch);
    if (result != kSuccess) return result;
  }
  cursor.out = image_done ? batch.slots : next_row_slot(batch);
  cursor.row_end = image_done ? batch.slots : cursor.out + width;
  return kSuccess;
}

// Emits a string that does not fit whole into the rest of the row: it is
// written to the spill area and copied out row by row.
ConversionResult emit_across_rows(CodeTable& table, RowBatch& batch, std::uint32_t width,
                                  RowCursor& cursor, unsigned code) {
  if (cursor.out == cursor.row_end) return kSuccess;  // every row is finished
  unsigned left = table.length[code];
  write_string(table, code, table.spill, left);
  const std::uint8_t* from = table.spill;
  while (left > 0 && cursor.out != cursor.row_end) {
    const unsigned take =
        std::min<unsigned>(left, static_cast<unsigned>(cursor.row_end - cursor.out));
    std::memcpy(cursor.out, from, take);
    cursor.out += take;
    from += take;
    left -= take;
    if (cursor.out == cursor.row_end) {
      const ConversionResult result = finish_row(batch, width, cursor);
      if (result != kSuccess) return result;
    }
  }
  return kSuccess;
}

// Emits the string of a code (a table entry or a single pixel) at the cursor.
// The slow paths work on a copy, so that the caller's cursor stays in
// registers.
inline ConversionResult emit(CodeTable& table, RowBatch& batch, std::uint32_t width,
                             RowCursor& cursor, unsigned code) {
  const unsigned length = table.length[code];
  RowCursor copy = cursor;
  ConversionResult result = kSuccess;
  if (static_cast<std::uint64_t>(cursor.row_end - cursor.out) < written_span(length)) [[unlikely]] {
    result = emit_across_rows(table, batch, width, copy, code);
    cursor = copy;
    return result;
  }
  write_string(table, code, cursor.out, length);
  cursor.out += length;
  if (cursor.out != cursor.row_end) [[likely]]
    return kSuccess;
  copy = cursor;
  result = finish_row(batch, width, copy);
  cursor = copy;
  return result;
}

// The decoder's running state between codes.
struct LzwState {
  unsigned clear_code;
  unsigned next_free;
  int width;
  unsigned width_limit;
  int previous = kNone;
};

void restart_table(LzwState& lzw, int code_size) {
  lzw.next_free = lzw.clear_code + 2;
  lzw.width = code_size + 1;
  lzw.width_limit = 1U << lzw.width;
  lzw.previous = kNone;
}

// Every single-pixel code is its own string.
void seed_table(CodeTable& table, unsigned clear_code) {
  for (unsigned pixel = 0; pixel < clear_code; ++pixel) {
    table.tail[pixel] = pixel;
    table.length[pixel] = 1;
    table.first[pixel] = static_cast<std::uint8_t>(pixel);
  }
}

// Adds the entry implied by a code that follows another and whose string
// starts with `pixel`, unless the table is full.
inline void grow_table(CodeTable& table, LzwState& lzw, std::uint8_t pixel) {
  if (lzw.next_free >= kTableSize) return;
  add_entry(table, lzw.next_free, static_cast<unsigned>(lzw.previous), pixel);
  ++lzw.next_free;
  if (lzw.next_free == lzw.width_limit && lzw.width < kMaxCodeWidth) {
    ++lzw.width;
    lzw.width_limit = 1U << lzw.width;
  }
}

// Rows finished but still held are written before a failure is reported, so a
// failing write is reported as it would be had each row been written at once.
ConversionResult fail(RowBatch& batch, ConversionResult result) {
  if (result != kOpenFailed && write_batch(batch) != kSuccess) return kOpenFailed;
  return result;
}

ConversionResult run_decoder(ConversionState& state, int code_size, CodeTable& table,
                             RowBatch& batch, std::uint32_t width) {
  LzwState lzw{};
  lzw.clear_code = 1U << code_size;
  const unsigned end_code = lzw.clear_code + 1;
  restart_table(lzw, code_size);
  seed_table(table, lzw.clear_code);
  BitStream stream;
  stream.next = stream.end = state.sub_block.bytes.data();
  RowCursor cursor{next_row_slot(batch), next_row_slot(batch) + width};

  for (;;) {
    ConversionResult result = refill(state, stream, lzw.width);
    if (result != kSuccess) return fail(batch, result);
    const auto code = static_cast<unsigned>(stream.bits & ((1U << lzw.width) - 1));
    stream.bits >>= lzw.width;
    stream.count -= lzw.width;

    // The rare codes come here: clear and end codes, codes above the next
    // free code, and the first code after a clear. The usual one, a code in
    // the table (or equal to the next free code) after another, skips it.
    if (code - lzw.clear_code < 2 || code > lzw.next_free || lzw.previous == kNone) [[unlikely]] {
      if (code == end_code) {
        // The rest of the current sub-block is ignored; the next byte of the
        // file must be the terminator (the end of the file reads as 0 too).
        if (read_byte(state.reader) != 0) return fail(batch, kBadGif);
        if ((result = write_batch(batch)) != kSuccess) return result;
        return complete_file_size(batch);
      }
      if (code > lzw.next_free) return fail(batch, kBadGif);
      if (code == lzw.clear_code) {
        restart_table(lzw, code_size);
        continue;
      }
      // The first code after a clear (or at the start) adds no entry, and
      // cannot refer to the entry about to be made.
      if (code == lzw.next_free) return fail(batch, kBadGif);
    } else {
      // A code equal to the next free code is the previous string followed by
      // that string's own first pixel.
      const unsigned starts = code == lzw.next_free ? static_cast<unsigned>(lzw.previous) : code;
      grow_table(table, lzw, table.first[starts]);
    }
    lzw.previous = static_cast<int>(code);
    if ((result = emit(table, batch, width, cursor, code)) != kSuccess) return result;
  }
}

}  // namespace

ConversionResult decode_image(ConversionState& state, std::uint8_t code_size,
                              platform::FileHandle bmp_file) {
  const auto width = static_cast<std::uint32_t>(state.image_width);
  const auto height = static_cast<std::uint32_t>(state.image_height);
  const std::uint64_t stride = stride_for(width);
  const std::uint32_t capacity = rows_per_batch(stride, height);
  WorkingMemory memory;
  if (!obtain_all(memory, std::max(kMinRowBuffer, stride * capacity))) return kNoMemory;
  if (code_size < kMinCodeSize || code_size > kMaxCodeSize) {
    release_all(memory);
    return kBadGif;
  }
  RowBatch batch{bmp_file, memory.rows, stride, height, capacity};
  batch.interlaced = state.interlaced;
  ConversionResult result = run_decoder(state, code_size, *memory.table, batch, width);
  release_all(memory);
  return result;
}

}  // namespace brevlo
