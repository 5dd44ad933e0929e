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
// itself as a chain of blocks of kBlock (8) pixels: the entry holds the last
// 1..kBlock pixels and the place of the entry for the string's first
// (length - 1) / kBlock * kBlock pixels, whose length is a multiple of kBlock.
// A string is written straight to its place in the row, one block at a time,
// from its last block back to its first.
//
// Codes are read straight from the current sub-block, with one load of a
// machine word at the code's byte, shifted and masked; no bits are carried
// from code to code. A word is 8 bytes where registers are 64 bits wide and 4
// where they are 32 bits, and the pixels of a string's tail move a word at a
// time: on 32-bit x86 a tail of 4 pixels or fewer, the usual one, is one load
// and one store, and no 64-bit value takes two of its eight registers.
//
// The path of one code is short, and its loop calls nothing. One test of the
// bit position stands for both the end of the sub-block and the next change
// of code width; one test of the string's end against the row's for the end
// of the row and the clear and end codes; one of the code against the next
// free entry. The entry a code adds is the previous string and one more pixel:
// it is written, all but that pixel, from the previous string's entry right
// after that string is written, and the code itself only stores the pixel.
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

// What one load of code bits takes from the sub-block.
using Word = std::conditional_t<sizeof(void*) == 8, std::uint64_t, std::uint32_t>;

// Pixels of a string stored, loaded and written together, in their order.
using Block = std::uint64_t;
constexpr unsigned kBlock = sizeof(Block);

// One string of the code table, 16 bytes so that an entry's place (see
// entry_at) is its code times 16.
struct Entry {
  // The string's last 1..kBlock pixels, then garbage: every string is written
  // whole, a word or a block at a time, before the next is written over the
  // bytes past its end.
  std::uint8_t tail[kBlock];
  std::uint16_t head;  // place of the entry for the string without its tail
  std::uint16_t unused;
  // The length in the low 16 bits and the first pixel in the 8 above, so that
  // the same string one pixel longer has shape + 1.
  std::uint32_t shape;
};
constexpr unsigned kPlaceShift = 4;  // a code's place is code << kPlaceShift
constexpr unsigned kEntrySize = 1U << kPlaceShift;
static_assert(sizeof(Entry) == kEntrySize);

// The clear and end codes have this length, longer than any row, so that the
// check that a string fits in its row also catches them, off the usual path.
constexpr std::uint32_t kControlLength = 0xFFFF;

unsigned length_of(std::uint32_t shape) {
  return shape & 0xFFFF;
}

unsigned first_of(std::uint32_t shape) {
  return shape >> 16;
}

// Once the table is full, the entries the codes would add go to these spare
// entries past the last code, unread, instead of being tested for; when they
// run out they are used again from the first. The last is only ever started
// (see start_entry), never completed.
constexpr int kSpareEntries = 64;

struct CodeTable {
  Entry entries[kTableSize + kSpareEntries + 1];
  // The current data sub-block, and room for a whole word read at its last byte.
  std::uint8_t data[kMaxSubBlock + sizeof(Word)];
  // A string that runs past the end of a row, before it is split between rows.
  std::uint8_t spill[kTableSize + kBlock];
};

// Entries are found by their place, a byte offset into the table, so that no
// step from code to entry is repeated: codes are read as places, and heads and
// the next free entry are kept as places.
using Place = std::size_t;

Place place_of(unsigned code) {
  return Place{code} << kPlaceShift;
}

Entry& entry_at(CodeTable& table, Place place) {
  return *reinterpret_cast<Entry*>(reinterpret_cast<std::byte*>(table.entries) + place);
}

const Entry& entry_at(const CodeTable& table, Place place) {
  return *reinterpret_cast<const Entry*>(reinterpret_cast<const std::byte*>(table.entries) + place);
}

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

// A word or a block from bytes at any alignment, and back.
template <typename Value>
Value load(const std::uint8_t* from) {
  Value value;
  std::memcpy(&value, from, sizeof value);
  return value;
}

template <typename Value>
void store(std::uint8_t* to, Value value) {
  std::memcpy(to, &value, sizeof value);
}

// Copies the first `count` (1..kBlock) bytes of a string's tail a word at a
// time, and garbage up to the end of the word holding the last of them.
inline void copy_tail(std::uint8_t* to, const std::uint8_t* tail, unsigned count) {
  store(to, load<Word>(tail));
  for (unsigned at = sizeof(Word); at < count; at += sizeof(Word))
    store(to + at, load<Word>(tail + at));
}

// Writes the string of the entry at `place` to out[0, length) and garbage to
// at most kBlock - 1 bytes past it: its own tail, then for a longer string the
// tails of the entries its head leads to, from the last block back.
inline void write_string(const CodeTable& table, Place place, std::uint8_t* out, unsigned length) {
  const Entry* entry = &entry_at(table, place);
  if (length > kBlock) [[unlikely]] {
    unsigned at = (length - 1) & ~(kBlock - 1);
    do {
      store(out + at, load<Block>(entry->tail));
      entry = &entry_at(table, entry->head);
    } while ((at -= kBlock) != 0);
    length = kBlock;
  }
  copy_tail(out, entry->tail, length);
}

// Starts `entry`, the next free one, as the string at `previous` followed by a
// pixel still unknown, the first of the next code's string, and returns where
// in the new entry's tail that pixel goes: either after the previous string's
// tail or, when that is full, alone on a tail of its own. The new entry's
// shape is complete already (one pixel longer, the same first pixel), so that
// a code equal to the next free code, whose first pixel is the previous
// string's, finds it there.
inline unsigned start_entry(const CodeTable& table, Entry& entry, Place previous) {
  const Entry& from = entry_at(table, previous);
  const std::uint32_t shape = from.shape;
  entry.shape = shape + 1;
  const unsigned used = shape % kBlock;  // pixels in the previous string's tail
  if (used != 0) {
    copy_tail(entry.tail, from.tail, used);
    entry.head = from.head;
  } else {
    entry.head = static_cast<std::uint16_t>(previous);
  }
  return used;
}

// Completes a started entry with the first pixel of the code's string, stored
// as a byte at `at`, so that no register pair is shifted where registers are
// 32 bits wide.
inline void finish_entry(Entry& entry, unsigned at, const Entry& code_entry) {
  entry.tail[at] = static_cast<std::uint8_t>(first_of(code_entry.shape));
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
  // A code starting before this bit is read with one load: it lies before
  // fast_end and before the first code of another width (see set_limit).
  unsigned limit = 0;
  // The terminator came where the next sub-block of codes was needed.
  bool terminated = false;
};

// Starts the next data sub-block. The file ending before or inside it cuts
// the data short; a 0 length (the terminator) while codes are still expected
// is corrupt data, unless the image is complete (see end_without_end_code).
Reason start_sub_block(InputReader& reader, CodeTable& table, BitStream& stream) {
  const std::int32_t length = read_byte(reader);
  if (length < 1) {
    stream.terminated = !reader.ended;
    return reader.ended ? Reason::kDataCutShort : Reason::kCorruptData;
  }
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
// `row_end`. A string that ends at or before `fast_end`, kBlock - 1 bytes
// before the row's end, is written whole with its last block inside the row.
// Once every row is finished `out` and `row_end` point at the same place and
// further pixels are dropped.
struct RowCursor {
  std::uint8_t* out;
  std::uint8_t* row_end;
  std::uintptr_t fast_end;
};

void start_row(RowCursor& cursor, std::uint8_t* slot, std::uint32_t width) {
  cursor.out = slot;
  cursor.row_end = slot + width;
  cursor.fast_end = reinterpret_cast<std::uintptr_t>(cursor.row_end) - (kBlock - 1);
}

// True when a string of this length goes straight into the row.
bool fits_in_row(const RowCursor& cursor, unsigned length) {
  return reinterpret_cast<std::uintptr_t>(cursor.out) + length <= cursor.fast_end;
}

// Called when the row at the cursor is full: hands it to the batch, which
// writes what is due, and moves to the next row's slot.
Reason finish_row(RowBatch& batch, std::uint32_t width, RowCursor& cursor) {
  const Reason reason = hand_over_row(batch);
  if (reason != Reason::kNone) return reason;
  const bool image_done = rows_finished(batch) == batch.height;
  start_row(cursor, image_done ? batch.slots : next_row_slot(batch), image_done ? 0 : width);
  return Reason::kNone;
}

// Emits a string that does not fit whole into the rest of the row: it is
// written to the spill area and copied out row by row.
Reason emit_across_rows(CodeTable& table, RowBatch& batch, std::uint32_t width, RowCursor& cursor,
                        Place place) {
  if (cursor.out == cursor.row_end) return Reason::kNone;  // every row is finished
  unsigned left = length_of(entry_at(table, place).shape);
  write_string(table, place, table.spill, left);
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
                   Place place) {
  if (length_of(entry_at(table, place).shape) == kControlLength) return kControlCode;
  return emit_across_rows(table, batch, width, cursor, place);
}

// Emits the string of the entry at `place` (a table entry or a single pixel)
// at the cursor. The string goes straight into the row when its last block ends
// inside it, which leaves the row unfinished (a block is longer than one
// pixel); every other string, and the clear and end codes, take the slow path.
// That works on a copy, so that the caller's cursor stays in registers.
inline Reason emit(CodeTable& table, RowBatch& batch, std::uint32_t width, RowCursor& cursor,
                   Place place) {
  const unsigned length = length_of(entry_at(table, place).shape);
  if (!fits_in_row(cursor, length)) [[unlikely]] {
    RowCursor moved = cursor;
    const Reason reason = emit_slowly(table, batch, width, moved, place);
    cursor = moved;
    return reason;
  }
  write_string(table, place, cursor.out, length);
  cursor.out += length;
  return Reason::kNone;
}

// The decoder's running state between codes, in places. When `added` reaches
// `width_changes`, 2 to the code width, codes widen by a bit, or, at 12 bits,
// the table is full and `width_changes` moves to the end of the spare entries,
// where `added` goes back to their start. Few registers are spent on it: i386
// has eight in all.
struct LzwState {
  Entry* added;  // where the next entry goes
  Entry* width_changes;
  Place place_mask;  // a code's bits, as they lie in its place
  int width;
};

void set_width(CodeTable& table, LzwState& lzw, int width) {
  lzw.width = width;
  lzw.place_mask = place_of((1U << width) - 1);
  lzw.width_changes = &table.entries[1U << width];
}

void restart_table(CodeTable& table, LzwState& lzw, int code_size) {
  lzw.added = &table.entries[(1U << code_size) + 2];
  set_width(table, lzw, code_size + 1);
}

// Called when `added` reaches `width_changes`.
void widen(CodeTable& table, LzwState& lzw) {
  if (lzw.width < kMaxCodeWidth) {
    set_width(table, lzw, lzw.width + 1);
  } else {
    lzw.added = &table.entries[kTableSize];
    lzw.width_changes = &table.entries[kTableSize + kSpareEntries];
  }
}

// Sets the bit before which codes are read with one load, just after a code
// was taken. Every code taken adds an entry (all but the first of a table, for
// which the limit comes one code early, which costs a visit to
// take_code_at_limit and nothing more), so the first code of the next width
// starts once the entries left before `width_changes`, this code's aside, have
// been added.
void set_limit(BitStream& stream, const LzwState& lzw) {
  const auto codes_left = static_cast<unsigned>(lzw.width_changes - lzw.added - 1);
  stream.limit =
      std::min(stream.fast_end, stream.position + codes_left * static_cast<unsigned>(lzw.width));
}

// Takes the code at the stream's position, which lies inside the sub-block,
// with one load, as the place of its entry: the word is shifted up by the
// place's extra bits before it is shifted down to the code. The sub-block is
// reached from the entries, so that on 32-bit x86 one register holds both.
Place load_place(const CodeTable& table, BitStream& stream, const LzwState& lzw) {
  const auto word = load<Word>(reinterpret_cast<const std::uint8_t*>(table.entries) +
                               offsetof(CodeTable, data) + stream.position / 8);
  const auto place = static_cast<Place>((word << kPlaceShift) >> (stream.position % 8));
  stream.position += static_cast<unsigned>(lzw.width);
  return place & lzw.place_mask;
}

// Takes the code at the limit: changes the width first when its time has
// come, then takes the code with one load if it lies inside the sub-block and
// a byte at a time if not, and sets the next limit.
Reason take_code_at_limit(InputReader& reader, CodeTable& table, BitStream& stream, LzwState& lzw,
                          Place& place) {
  if (lzw.added == lzw.width_changes) widen(table, lzw);
  if (stream.position < stream.fast_end) {
    place = load_place(table, stream, lzw);
  } else {
    unsigned code = 0;
    const Reason reason = take_code_slowly(reader, table, stream, lzw.width, code);
    if (reason != Reason::kNone) return reason;
    place = place_of(code);
  }
  set_limit(stream, lzw);
  return Reason::kNone;
}

// Takes the next code's place: with one load while it lies before the limit.
// The slow path works on copies, so that the caller's state stays in
// registers.
inline Reason take_code(InputReader& reader, CodeTable& table, BitStream& stream, LzwState& lzw,
                        Place& place) {
  if (stream.position < stream.limit) [[likely]] {
    place = load_place(table, stream, lzw);
    return Reason::kNone;
  }
  BitStream moved = stream;
  LzwState changed = lzw;
  Place taken = 0;
  const Reason reason = take_code_at_limit(reader, table, moved, changed, taken);
  stream = moved;
  lzw = changed;
  place = taken;
  return reason;
}

// Every single-pixel code is its own string; the clear and end codes are
// marked by their length.
void seed_table(CodeTable& table, unsigned clear_code) {
  for (unsigned pixel = 0; pixel < clear_code; ++pixel) {
    Entry& entry = table.entries[pixel];
    entry = Entry{};
    entry.tail[0] = static_cast<std::uint8_t>(pixel);
    entry.shape = pixel << 16 | 1;
  }
  for (unsigned code = clear_code; code < clear_code + 2; ++code) {
    table.entries[code] = Entry{};
    table.entries[code].shape = kControlLength;
  }
}

// Completes the entry a code adds, started from the previous string, with
// the first pixel of the code's string, where a code equal to the next free
// code is that very entry. A clear or end code completes it too, and the
// restart or the end makes it unreachable. False when the code lies past the
// next free code.
inline bool grow_table(CodeTable& table, LzwState& lzw, unsigned pixel_at, Place place) {
  const Entry& code_entry = entry_at(table, place);
  finish_entry(*lzw.added, pixel_at, code_entry);
  if (&code_entry > lzw.added) [[unlikely]]
    return false;
  ++lzw.added;
  return true;
}

// Rows finished but still held are written before a failure is reported, so a
// failing write is reported as it would be had each row been written at once.
Reason fail(RowBatch& batch, Reason reason) {
  if (reason != Reason::kWriteFailed && write_batch(batch) != Reason::kNone)
    return Reason::kWriteFailed;
  return reason;
}

// The image data is over: the rows held are written and the file given its
// full size.
Reason write_rows(RowBatch& batch) {
  drop_unfinished_row(batch);
  const Reason reason = write_batch(batch);
  if (reason != Reason::kNone) return reason;
  return complete_file_size(batch);
}

// The end code: the rest of the current sub-block is ignored; the next byte of
// the file must be the terminator (the end of the file reads as 0 too).
Reason finish_image(InputReader& reader, RowBatch& batch) {
  if (read_byte(reader) != 0) return fail(batch, Reason::kCorruptData);
  return write_rows(batch);
}

// A code could not be taken. Where the terminator came instead and every row
// is finished, the image is complete and, when the options allow it, its data
// ends there as at an end code; otherwise the reason stands.
Reason end_without_end_code(RowBatch& batch, const BitStream& stream, bool end_code_optional,
                            Reason reason) {
  if (stream.terminated && end_code_optional && rows_finished(batch) == batch.height)
    return write_rows(batch);
  return fail(batch, reason);
}

Reason run_decoder(InputReader& reader, int code_size, bool end_code_optional, CodeTable& table,
                   RowBatch& batch, std::uint32_t width) {
  const unsigned clear_code = 1U << code_size;
  const Place clear = place_of(clear_code);
  const Place end = place_of(clear_code + 1);
  seed_table(table, clear_code);
  LzwState lzw{};
  BitStream stream;
  RowCursor cursor{};
  start_row(cursor, next_row_slot(batch), width);
  Place place = 0;
  Reason reason = Reason::kNone;

  for (;;) {
    // The first code, and the first after each clear, adds no entry and cannot
    // refer to the entry about to be made.
    restart_table(table, lzw, code_size);
    stream.limit = 0;  // the first code sets the limit for the new width
    do {
      if ((reason = take_code(reader, table, stream, lzw, place)) != Reason::kNone)
        return end_without_end_code(batch, stream, end_code_optional, reason);
    } while (place == clear);
    if (place == end) return finish_image(reader, batch);
    if (&entry_at(table, place) >= lzw.added) return fail(batch, Reason::kCorruptData);
    if ((reason = emit(table, batch, width, cursor, place)) != Reason::kNone) return reason;

    for (;;) {
      unsigned pixel_at = start_entry(table, *lzw.added, place);
      // The usual code lies before the limit and its string fits in the row:
      // their loop calls nothing, so that its values can stay in registers.
      // Any other code ends it, to be taken or emitted below.
      bool at_limit = true;
      while (stream.position < stream.limit) {
        place = load_place(table, stream, lzw);
        if (!grow_table(table, lzw, pixel_at, place)) return fail(batch, Reason::kCorruptData);
        const unsigned length = length_of(entry_at(table, place).shape);
        if (!fits_in_row(cursor, length)) {
          at_limit = false;
          break;
        }
        write_string(table, place, cursor.out, length);
        cursor.out += length;
        pixel_at = start_entry(table, *lzw.added, place);
      }
      if (at_limit) {
        if ((reason = take_code(reader, table, stream, lzw, place)) != Reason::kNone)
          return end_without_end_code(batch, stream, end_code_optional, reason);
        if (!grow_table(table, lzw, pixel_at, place)) return fail(batch, Reason::kCorruptData);
      }
      if ((reason = emit(table, batch, width, cursor, place)) != Reason::kNone) [[unlikely]] {
        if (reason != kControlCode) return reason;
        if (place == end) return finish_image(reader, batch);
        break;  // a clear code
      }
    }
  }
}

}  // namespace

Reason decode_image(InputReader& reader, const ImageHeader& image, const ConversionOptions& options,
                    platform::FileHandle bmp_file) {
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
  if (image.interlaced) plan_interlaced_rows(batch);
  const Reason reason = run_decoder(reader, image.code_size, options.end_code_optional,
                                    *memory.table, batch, image.width);
  release_all(memory);
  return reason;
}

}  // namespace brevlo
