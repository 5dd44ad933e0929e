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
// itself as a chain of blocks of kBlock pixels: the entry holds the last
// 1..kBlock pixels and the code of the string's first
// (length - 1) / kBlock * kBlock pixels, an entry whose length is a multiple of
// kBlock. A string is written straight to its place in the row, one store per
// block, from its last block back to its first.
//
// Codes are read straight from the current sub-block, with one load of a
// machine word at the code's byte, shifted and masked; no bits are carried
// from code to code. A block of a string and that load are one machine word:
// 8 bytes where registers are 64 bits wide, 4 where they are 32 bits (there a
// 64-bit value takes two of only eight registers).
#include "engine/lzw_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "engine/bmp_layout.h"
#include "engine/bmp_writer.h"
#include "engine/input_reader.h"

namespace brevlo {

namespace {

constexpr int kMinCodeSize = 2;
constexpr int kMaxCodeSize = 8;
constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = 1 << kMaxCodeWidth;  // 4096 codes
constexpr int kMaxSubBlock = 255;               // bytes after a sub-block's length byte

using Word = std::conditional_t<sizeof(void*) == 8, std::uint64_t, std::uint32_t>;
constexpr unsigned kBlock = sizeof(Word);  // pixels per stored block of a string

// One string of the code table. The fields a code needs share a cache line.
struct Entry {
  Word tail;           // the string's last 1..kBlock pixels from the low byte up, zero past them
  std::uint16_t head;  // code of the string without its tail
  // The length in the low 16 bits and the first pixel in the 8 above, so that
  // the same string one pixel longer has shape + 1.
  std::uint32_t shape;
};

// The clear and end codes have this length, longer than any row, so that the
// check that a string fits in its row also catches them, off the usual path.
constexpr std::uint32_t kControlLength = 0xFFFF;

unsigned length_of(const Entry& entry) {
  return entry.shape & 0xFFFF;
}

std::uint8_t first_of(const Entry& entry) {
  return static_cast<std::uint8_t>(entry.shape >> 16);
}

struct CodeTable {
  // One entry past the last code: once the table is full, the entries the
  // codes would add go there, unread, instead of being tested for.
  Entry entries[kTableSize + 1];
  // The current data sub-block, and room for a whole word read at its last byte.
  std::uint8_t data[kMaxSubBlock + sizeof(Word)];
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

Word load_word(const std::uint8_t* from) {
  Word value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

void store_word(std::uint8_t* to, Word value) {
  std::memcpy(to, &value, sizeof value);
}

// Writes the string of code to out[0, length) and zero or garbage to the rest
// of its last block, at most kBlock - 1 bytes past out + length.
inline void write_string(const CodeTable& table, unsigned code, std::uint8_t* out,
                         unsigned length) {
  const Entry* entry = &table.entries[code];
  if (length > kBlock) [[unlikely]] {
    std::uint8_t* at = out + ((length - 1) & ~(kBlock - 1));
    do {
      store_word(at, entry->tail);
      at -= kBlock;
      entry = &table.entries[entry->head];
    } while (at != out);
  }
  store_word(out, entry->tail);
}

// Adds the string of `previous` followed by `pixel` as entry `code`. The new
// pixel either extends the previous string's tail or starts a tail of its own.
inline void add_entry(CodeTable& table, unsigned code, unsigned previous, std::uint8_t pixel) {
  const Entry& from = table.entries[previous];
  Entry& added = table.entries[code];
  const unsigned used = from.shape % kBlock;  // pixels in the previous string's tail
  const Word kept = used != 0 ? from.tail : 0;
  added.tail = kept | Word{pixel} << (8 * used);
  added.head = used != 0 ? from.head : static_cast<std::uint16_t>(previous);
  added.shape = from.shape + 1;
}

// The current data sub-block (`data` in the code table) and how many of its
// bits codes have taken. Bytes are only ever taken from the current
// sub-block: the next one is read when a code needs its bits, never before.
struct BitStream {
  unsigned position = 0;  // bits taken
  unsigned size = 0;      // bits held: 8 times the sub-block's length
  // A code starting before this bit lies wholly inside the sub-block, whatever
  // its width.
  unsigned fast_end = 0;
};

// Starts the next data sub-block. The file ending before or inside it cuts
// the data short; a 0 length (the terminator) while codes are still expected
// is corrupt data.
Reason start_sub_block(InputReader& reader, CodeTable& table, BitStream& stream) {
  const std::int32_t length = read_byte(reader);
  if (length < 1) return reader.ended ? Reason::kDataCutShort : Reason::kCorruptData;
  const std::int32_t got = read_block(reader, table.data, length);
  if (got < length) return Reason::kDataCutShort;
  stream.position = 0;
  stream.size = 8 * static_cast<unsigned>(got);
  constexpr unsigned kWidest = kMaxCodeWidth;
  stream.fast_end = stream.size >= kWidest ? stream.size - kWidest + 1 : 0;
  return Reason::kNone;
}

// Takes a code of `width` bits a byte's worth at a time, crossing into
// following sub-blocks as needed.
Reason take_code_slowly(InputReader& reader, CodeTable& table, BitStream& stream, int width,
                        unsigned& code) {
  unsigned value = 0;
  for (int taken = 0; taken < width;) {
    if (stream.position == stream.size) {
      const Reason reason = start_sub_block(reader, table, stream);
      if (reason != Reason::kNone) return reason;
    }
    const int offset = static_cast<int>(stream.position % 8);
    const int take = std::min(width - taken, 8 - offset);
    const unsigned bits = (table.data[stream.position / 8] >> offset) & ((1U << take) - 1);
    value |= bits << taken;
    taken += take;
    stream.position += static_cast<unsigned>(take);
  }
  code = value;
  return Reason::kNone;
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
Reason finish_row(RowBatch& batch, std::uint32_t width, RowCursor& cursor) {
  ++batch.filled;
  const bool image_done = rows_finished(batch) == batch.height;
  if (image_done || batch.filled == batch.capacity) {
    const Reason reason = write_batch(batch);
    if (reason != Reason::kNone) return reason;
  }
  cursor.out = image_done ? batch.slots : next_row_slot(batch);
  cursor.row_end = image_done ? batch.slots : cursor.out + width;
  return Reason::kNone;
}

// Emits a string that does not fit whole into the rest of the row: it is
// written to the spill area and copied out row by row.
Reason emit_across_rows(CodeTable& table, RowBatch& batch, std::uint32_t width, RowCursor& cursor,
                        unsigned code) {
  if (cursor.out == cursor.row_end) return Reason::kNone;  // every row is finished
  unsigned left = length_of(table.entries[code]);
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
      const Reason reason = finish_row(batch, width, cursor);
      if (reason != Reason::kNone) return reason;
    }
  }
  return Reason::kNone;
}

// Returned by emit, never by the decoder: the code was a clear or end code.
constexpr auto kControlCode = static_cast<Reason>(0xFF);

// Emits a string that does not fit whole into the rest of the row, or notes a
// clear or end code.
Reason emit_slowly(CodeTable& table, RowBatch& batch, std::uint32_t width, RowCursor& cursor,
                   unsigned code) {
  if (length_of(table.entries[code]) == kControlLength) return kControlCode;
  return emit_across_rows(table, batch, width, cursor, code);
}

// Emits the string of a code (a table entry or a single pixel) at the cursor.
// The string goes straight into the row when its last block ends inside it,
// which leaves the row unfinished (a block is longer than one pixel); every
// other string, and the clear and end codes, take the slow path. That works
// on a copy, so that the caller's cursor stays in registers.
inline Reason emit(CodeTable& table, RowBatch& batch, std::uint32_t width, RowCursor& cursor,
                   unsigned code) {
  const unsigned length = length_of(table.entries[code]);
  const std::ptrdiff_t room = cursor.row_end - cursor.out;
  if (room < static_cast<std::ptrdiff_t>(length + kBlock - 1)) [[unlikely]] {
    RowCursor moved = cursor;
    const Reason reason = emit_slowly(table, batch, width, moved, code);
    cursor = moved;
    return reason;
  }
  write_string(table, code, cursor.out, length);
  cursor.out += length;
  return Reason::kNone;
}

// The decoder's running state between codes. Codes below `next_free` are in
// the table. When `next_free` reaches `widen_at`, 2 to the code width, codes
// widen by a bit, or, at 12 bits, the table is full and `next_free` stays at
// kTableSize, the spare entry past the last code. Few registers are spent on
// it: i386 has eight in all.
struct LzwState {
  unsigned clear_code;
  unsigned next_free;
  unsigned widen_at;
  int width;
};

void set_width(LzwState& lzw, int width) {
  lzw.width = width;
  lzw.widen_at = 1U << width;
}

void restart_table(LzwState& lzw, int code_size) {
  lzw.next_free = lzw.clear_code + 2;
  set_width(lzw, code_size + 1);
}

// Called when `next_free` reaches `widen_at`, which a full table does with
// every code.
void widen(LzwState& lzw) {
  if (lzw.width < kMaxCodeWidth)
    set_width(lzw, lzw.width + 1);
  else
    lzw.next_free = kTableSize;
}

// Every single-pixel code is its own string; the clear and end codes are
// marked by their length.
void seed_table(CodeTable& table, unsigned clear_code) {
  for (unsigned pixel = 0; pixel < clear_code; ++pixel) {
    Entry& entry = table.entries[pixel];
    entry.tail = pixel;
    entry.head = 0;
    entry.shape = pixel << 16 | 1;
  }
  for (unsigned code = clear_code; code < clear_code + 2; ++code) {
    table.entries[code] = Entry{0, 0, kControlLength};
  }
}

// Adds the entry implied by a code that follows `previous` and whose string
// starts with `pixel` (into the spare entry once the table is full).
inline void grow_table(CodeTable& table, LzwState& lzw, unsigned previous, std::uint8_t pixel) {
  add_entry(table, lzw.next_free, previous, pixel);
  if (++lzw.next_free >= lzw.widen_at) [[unlikely]]
    widen(lzw);
}

// Rows finished but still held are written before a failure is reported, so a
// failing write is reported as it would be had each row been written at once.
Reason fail(RowBatch& batch, Reason reason) {
  if (reason != Reason::kWriteFailed && write_batch(batch) != Reason::kNone)
    return Reason::kWriteFailed;
  return reason;
}

// The end code: the rest of the current sub-block is ignored; the next byte of
// the file must be the terminator (the end of the file reads as 0 too).
Reason finish_image(InputReader& reader, RowBatch& batch) {
  if (read_byte(reader) != 0) return fail(batch, Reason::kCorruptData);
  const Reason reason = write_batch(batch);
  if (reason != Reason::kNone) return reason;
  return complete_file_size(batch);
}

// Takes the next code: with one word load while the code surely lies inside
// the current sub-block, else a byte at a time.
inline Reason take_code(InputReader& reader, CodeTable& table, BitStream& stream,
                        const LzwState& lzw, unsigned& code) {
  if (stream.position < stream.fast_end) [[likely]] {
    const Word word = load_word(table.data + stream.position / 8);
    code = static_cast<unsigned>(word >> (stream.position % 8)) & (lzw.widen_at - 1);
    stream.position += static_cast<unsigned>(lzw.width);
    return Reason::kNone;
  }
  BitStream moved = stream;
  unsigned taken = 0;
  const Reason reason = take_code_slowly(reader, table, moved, lzw.width, taken);
  stream = moved;
  code = taken;
  return reason;
}

Reason run_decoder(InputReader& reader, int code_size, CodeTable& table, RowBatch& batch,
                   std::uint32_t width) {
  LzwState lzw{};
  lzw.clear_code = 1U << code_size;
  const unsigned end_code = lzw.clear_code + 1;
  seed_table(table, lzw.clear_code);
  BitStream stream;
  RowCursor cursor{next_row_slot(batch), next_row_slot(batch) + width};
  unsigned code = 0;
  Reason reason = Reason::kNone;

  for (;;) {
    // The first code, and the first after each clear, adds no entry and cannot
    // refer to the entry about to be made.
    restart_table(lzw, code_size);
    do {
      if ((reason = take_code(reader, table, stream, lzw, code)) != Reason::kNone)
        return fail(batch, reason);
    } while (code == lzw.clear_code);
    if (code == end_code) return finish_image(reader, batch);
    if (code >= lzw.next_free) return fail(batch, Reason::kCorruptData);
    if ((reason = emit(table, batch, width, cursor, code)) != Reason::kNone) return reason;

    for (unsigned previous = code;; previous = code) {
      if ((reason = take_code(reader, table, stream, lzw, code)) != Reason::kNone)
        return fail(batch, reason);
      // A code in the table adds the previous string followed by the code's
      // first pixel; one equal to the next free code is that very entry, so
      // its first pixel is the previous string's. A clear or end code adds an
      // entry too, which the restart or the end makes unreachable.
      unsigned starts = code;
      if (code >= lzw.next_free) [[unlikely]] {
        if (code != lzw.next_free) return fail(batch, Reason::kCorruptData);
        starts = previous;
      }
      grow_table(table, lzw, previous, first_of(table.entries[starts]));
      if ((reason = emit(table, batch, width, cursor, code)) != Reason::kNone) [[unlikely]] {
        if (reason != kControlCode) return reason;
        if (code == end_code) return finish_image(reader, batch);
        break;  // a clear code
      }
    }
  }
}

}  // namespace

Reason decode_image(InputReader& reader, const ImageHeader& image, platform::FileHandle bmp_file) {
  const std::uint64_t stride = stride_for(image.width);
  const std::uint32_t capacity = rows_per_batch(stride, image.height);
  WorkingMemory memory;
  if (!obtain_all(memory, stride * capacity)) return Reason::kNoMemory;
  if (image.code_size < kMinCodeSize || image.code_size > kMaxCodeSize) {
    release_all(memory);
    // A file that ended where its code size belongs is cut short, not corrupt.
    return reader.ended ? Reason::kDataCutShort : Reason::kBadCodeSize;
  }
  RowBatch batch{bmp_file, memory.rows, stride, image.height, capacity};
  batch.interlaced = image.interlaced;
  Reason reason = batch.interlaced ? prepare_interlaced_area(batch) : Reason::kNone;
  if (reason == Reason::kNone)
    reason = run_decoder(reader, image.code_size, *memory.table, batch, image.width);
  release_all(memory);
  return reason;
}

}  // namespace brevlo
