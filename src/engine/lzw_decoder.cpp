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
// itself as a chain of blocks of kBlock (8) pixels: the entry holds the
// string's suffix, its last 1..kBlock pixels, and the offset of its prefix,
// the entry for the string's first (length - 1) / kBlock * kBlock pixels, a
// multiple of kBlock. A string is written straight to its place in the row,
// one block at a time, from its last block back to its first.
//
// Codes are read straight from the current sub-block, with one load of a
// machine word at the code's byte, shifted and masked; no bits are carried
// from code to code. A word is 8 bytes where registers are 64 bits wide and 4
// where they are 32 bits, and the pixels of a string's suffix move a word at a
// time: on 32-bit x86 a suffix of 4 pixels or fewer, the usual one, is one
// load and one store, and no 64-bit value takes two of its eight registers.
//
// The path of one code is short, and its loop calls nothing. One test of the
// bit position stands for both the end of the sub-block and the next change
// of code width; one test of the string's end against the row's for the end
// of the row and the clear and end codes; one of the code against the next
// free entry. The entry a code adds is the previous string and one more pixel:
// it is written, all but that pixel, from the previous string's entry right
// after that string is written, and the code itself only stores the pixel.
//
// A call fills a run of rows, moving from each full row to the next. When the
// run is full the state between codes is put back into the decoder, and the
// next call takes it up again.
#include "engine/lzw_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace brevlo {

namespace {

constexpr int kMinCodeSize = 2;
constexpr int kMaxCodeSize = 8;
constexpr int kMaxCodeWidth = 12;
constexpr int kTableSize = 1 << kMaxCodeWidth;  // 4096 codes

// What one load of code bits takes from the sub-block.
using Word = std::conditional_t<sizeof(void*) == 8, std::uint64_t, std::uint32_t>;

// Pixels of a string stored, loaded and written together, in their order.
using Block = std::uint64_t;
constexpr unsigned kBlock = sizeof(Block);

// One string of the code table, 16 bytes so that an entry's offset in the
// table (see entry_at) is its code times 16.
struct Entry {
  // The string's last 1..kBlock pixels, then garbage: every string is written
  // whole, a word or a block at a time, before the next is written over the
  // bytes past its end.
  std::uint8_t suffix[kBlock];
  std::uint16_t prefix;  // offset of the entry for the string without its suffix
  std::uint16_t padding;
  // The length in the low 16 bits and the first pixel in the 8 above, so that
  // the same string one pixel longer has length_and_first + 1.
  std::uint32_t length_and_first;
};
constexpr unsigned kEntryShift = 4;  // a code's entry lies at code << kEntryShift
constexpr unsigned kEntrySize = 1U << kEntryShift;
static_assert(sizeof(Entry) == kEntrySize);

// The clear and end codes have this length, longer than any row, so that the
// check that a string fits in its row also catches them, off the usual path.
constexpr std::uint32_t kControlLength = 0xFFFF;

unsigned length_of(std::uint32_t length_and_first) {
  return length_and_first & 0xFFFF;
}

unsigned first_pixel_of(std::uint32_t length_and_first) {
  return length_and_first >> 16;
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

// A code as the byte offset of its entry in the table, so that no step from
// code to entry is repeated: codes are read as offsets, and prefixes and the
// next free entry are kept as offsets.
using CodeOffset = std::size_t;

CodeOffset offset_of(unsigned code) {
  return CodeOffset{code} << kEntryShift;
}

Entry& entry_at(CodeTable& table, CodeOffset code) {
  return *reinterpret_cast<Entry*>(reinterpret_cast<std::byte*>(table.entries) + code);
}

const Entry& entry_at(const CodeTable& table, CodeOffset code) {
  return *reinterpret_cast<const Entry*>(reinterpret_cast<const std::byte*>(table.entries) + code);
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
  // The terminator came where a code's bits were to go on: the data ended
  // without an end code, and the code taken stands for one.
  bool terminated = false;
};

// The decoder's running table state between codes, as offsets. When `added`
// reaches `width_changes`, 2 to the code width, codes widen by a bit, or, at
// 12 bits, the table is full and `width_changes` moves to the end of the spare
// entries, where `added` goes back to their start. Few registers are spent on
// it: i386 has eight in all.
struct LzwState {
  Entry* added;  // where the next entry goes
  Entry* width_changes;
  CodeOffset code_mask;  // a code's bits, as they lie in its offset
  int width;
};

// Where decoding stands between rows.
struct Progress {
  InputReader* reader = nullptr;
  unsigned code_size = 0;
  std::uint32_t width = 0;  // of every row
  BitStream stream;
  LzwState lzw{};
  CodeOffset previous = 0;   // the last code taken, whose string the next entry extends
  bool table_starts = true;  // the next code is the first of a table: no entry to add
  DataEnd end = DataEnd::kNotYet;
  // What is left of a string split between runs: spill_left pixels from
  // spill[spill_at] in the code table, for the next run's first row.
  unsigned spill_at = 0;
  unsigned spill_left = 0;
};

}  // namespace

// The table comes first, so that the decoder's address is the table's and one
// register holds both.
struct LzwDecoder {
  CodeTable table;
  Progress progress;
};

namespace {

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

// Copies the first `count` (1..kBlock) bytes of a string's suffix a word at a
// time, and garbage up to the end of the word holding the last of them.
inline void copy_suffix(std::uint8_t* to, const std::uint8_t* suffix, unsigned count) {
  store(to, load<Word>(suffix));
  for (unsigned at = sizeof(Word); at < count; at += sizeof(Word))
    store(to + at, load<Word>(suffix + at));
}

// Writes the string of the entry at `code` to out[0, length) and garbage to at
// most kBlock - 1 bytes past it: its own suffix, then for a longer string the
// suffixes of the entries its prefix leads to, from the last block back.
inline void write_string(const CodeTable& table, CodeOffset code, std::uint8_t* out,
                         unsigned length) {
  const Entry* entry = &entry_at(table, code);
  if (length > kBlock) [[unlikely]] {
    unsigned at = (length - 1) & ~(kBlock - 1);
    do {
      store(out + at, load<Block>(entry->suffix));
      entry = &entry_at(table, entry->prefix);
    } while ((at -= kBlock) != 0);
    length = kBlock;
  }
  copy_suffix(out, entry->suffix, length);
}

// Starts `entry`, the next free one, as the string at `previous` followed by a
// pixel still unknown, the first of the next code's string, and returns where
// in the new entry's suffix that pixel goes: either after the previous
// string's suffix or, when that is full, alone in a suffix of its own. The new
// entry's length and first pixel are complete already (one pixel longer, the
// same first pixel), so that a code equal to the next free code, whose first
// pixel is the previous string's, finds them there.
inline unsigned start_entry(const CodeTable& table, Entry& entry, CodeOffset previous) {
  const Entry& from = entry_at(table, previous);
  const std::uint32_t length_and_first = from.length_and_first;
  entry.length_and_first = length_and_first + 1;
  const unsigned used = length_and_first % kBlock;  // pixels in the previous string's suffix
  if (used != 0) {
    copy_suffix(entry.suffix, from.suffix, used);
    entry.prefix = from.prefix;
  } else {
    entry.prefix = static_cast<std::uint16_t>(previous);
  }
  return used;
}

// Completes a started entry with the first pixel of the code's string, stored
// as a byte at `at`, so that no register pair is shifted where registers are
// 32 bits wide.
inline void finish_entry(Entry& entry, unsigned at, const Entry& code_entry) {
  entry.suffix[at] = static_cast<std::uint8_t>(first_pixel_of(code_entry.length_and_first));
}

// Starts the next data sub-block. The file ending before or inside it cuts
// the data short; a 0 length, the terminator, where codes are still expected
// ends the data without an end code (see BitStream::terminated).
Reason start_sub_block(InputReader& reader, CodeTable& table, BitStream& stream) {
  const std::int32_t length = read_byte(reader);
  if (length < 1) {
    if (reader.ended) return Reason::kDataCutShort;
    stream.terminated = true;
    return Reason::kNone;
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
// following sub-blocks as needed. The terminator in their place gives the end
// code.
Reason take_code_slowly(InputReader& reader, CodeTable& table, BitStream& stream, int width,
                        unsigned end_code, unsigned& code) {
  unsigned value = 0;
  for (int taken = 0; taken < width;) {
    if (stream.position == stream.size) {
      const Reason reason = start_sub_block(reader, table, stream);
      if (reason != Reason::kNone) return reason;
      if (stream.terminated) {
        code = end_code;
        return Reason::kNone;
      }
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

// Where pixels go: `out` in the row being filled, which ends at `row_end`. A
// string that ends at or before `fast_end`, kBlock - 1 bytes before the row's
// end, is written whole with its last block inside the row. Past the last row
// `out` and `row_end` are the same place and pixels are dropped.
struct RowCursor {
  std::uint8_t* out;
  std::uint8_t* row_end;
  std::uintptr_t fast_end;
};

RowCursor start_row(std::uint8_t* row, std::uint32_t width) {
  RowCursor cursor;
  cursor.out = row;
  cursor.row_end = row + width;
  cursor.fast_end = reinterpret_cast<std::uintptr_t>(cursor.row_end) - (kBlock - 1);
  return cursor;
}

// True when a string of this length goes straight into the row.
bool fits_in_row(const RowCursor& cursor, unsigned length) {
  return reinterpret_cast<std::uintptr_t>(cursor.out) + length <= cursor.fast_end;
}

// The rows of the run after the one at the cursor: touched only when a row is
// full.
struct RunLeft {
  std::uint8_t* row;  // the start of the row at the cursor
  std::ptrdiff_t step;
  std::uint32_t rows;    // rows of the run after the one at the cursor
  std::uint32_t filled;  // rows of the run filled so far
};

// What became of a string emitted at the cursor.
enum class Emitted : std::uint8_t {
  kPlaced,   // in the rows, the last of which has room left; or dropped past the last row
  kRunFull,  // every row of the run is full; what did not fit waits in the spill area
  kControl,  // a clear or end code, which has no pixels
};

// Copies what is left of a string split between rows into the row at the
// cursor, and on into the run's next rows as each is full. True when the run
// is full; then what is left of the string waits for the next run.
bool place_spill(LzwDecoder& decoder, RowCursor& cursor, RunLeft& run) {
  Progress& progress = decoder.progress;
  for (;;) {
    const unsigned take =
        std::min<unsigned>(progress.spill_left, static_cast<unsigned>(cursor.row_end - cursor.out));
    std::memcpy(cursor.out, decoder.table.spill + progress.spill_at, take);
    cursor.out += take;
    progress.spill_at += take;
    progress.spill_left -= take;
    if (cursor.out != cursor.row_end) return false;
    ++run.filled;
    if (run.rows == 0) return true;
    --run.rows;
    run.row += run.step;
    cursor = start_row(run.row, progress.width);
    if (progress.spill_left == 0) return false;
  }
}

// Emits a string that does not fit whole into the rest of the row: it is
// written to the spill area, and copied from there into the rows.
Emitted emit_across_rows(LzwDecoder& decoder, RowCursor& cursor, RunLeft& run, CodeOffset code) {
  if (cursor.out == cursor.row_end) return Emitted::kPlaced;  // past the last row: dropped
  Progress& progress = decoder.progress;
  progress.spill_at = 0;
  progress.spill_left = length_of(entry_at(decoder.table, code).length_and_first);
  write_string(decoder.table, code, decoder.table.spill, progress.spill_left);
  return place_spill(decoder, cursor, run) ? Emitted::kRunFull : Emitted::kPlaced;
}

// Emits a string that does not fit whole into the rest of the row, or notes a
// clear or end code.
Emitted emit_slowly(LzwDecoder& decoder, RowCursor& cursor, RunLeft& run, CodeOffset code) {
  if (length_of(entry_at(decoder.table, code).length_and_first) == kControlLength)
    return Emitted::kControl;
  return emit_across_rows(decoder, cursor, run, code);
}

// Emits the string of the entry at `code` (a table entry or a single pixel) at
// the cursor. The string goes straight into the row when its last block ends
// inside it, which leaves the row unfinished (a block is longer than one
// pixel); every other string, and the clear and end codes, take the slow path.
// That works on a copy, so that the caller's cursor stays in registers.
inline Emitted emit(LzwDecoder& decoder, RowCursor& cursor, RunLeft& run, CodeOffset code) {
  const unsigned length = length_of(entry_at(decoder.table, code).length_and_first);
  if (!fits_in_row(cursor, length)) [[unlikely]] {
    RowCursor moved = cursor;
    const Emitted emitted = emit_slowly(decoder, moved, run, code);
    cursor = moved;
    return emitted;
  }
  write_string(decoder.table, code, cursor.out, length);
  cursor.out += length;
  return Emitted::kPlaced;
}

void set_width(CodeTable& table, LzwState& lzw, int width) {
  lzw.width = width;
  lzw.code_mask = offset_of((1U << width) - 1);
  lzw.width_changes = &table.entries[1U << width];
}

void restart_table(CodeTable& table, LzwState& lzw, unsigned code_size) {
  lzw.added = &table.entries[(1U << code_size) + 2];
  set_width(table, lzw, static_cast<int>(code_size) + 1);
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
// with one load, as the offset of its entry: the word is shifted up by the
// offset's extra bits before it is shifted down to the code. The sub-block is
// reached from the entries, so that on 32-bit x86 one register holds both.
CodeOffset load_code(const CodeTable& table, BitStream& stream, const LzwState& lzw) {
  const auto word = load<Word>(reinterpret_cast<const std::uint8_t*>(table.entries) +
                               offsetof(CodeTable, data) + stream.position / 8);
  const auto code = static_cast<CodeOffset>((word << kEntryShift) >> (stream.position % 8));
  stream.position += static_cast<unsigned>(lzw.width);
  return code & lzw.code_mask;
}

// Takes the code at the limit: changes the width first when its time has
// come, then takes the code with one load if it lies inside the sub-block and
// a byte at a time if not, and sets the next limit.
Reason take_code_at_limit(InputReader& reader, CodeTable& table, BitStream& stream, LzwState& lzw,
                          CodeOffset end_code, CodeOffset& code) {
  if (lzw.added == lzw.width_changes) widen(table, lzw);
  if (stream.position < stream.fast_end) {
    code = load_code(table, stream, lzw);
  } else {
    unsigned value = 0;
    const Reason reason = take_code_slowly(reader, table, stream, lzw.width,
                                           static_cast<unsigned>(end_code >> kEntryShift), value);
    if (reason != Reason::kNone) return reason;
    code = offset_of(value);
  }
  set_limit(stream, lzw);
  return Reason::kNone;
}

// Takes the next code: with one load while it lies before the limit. The slow
// path works on copies, so that the caller's state stays in registers.
inline Reason take_code(InputReader& reader, CodeTable& table, BitStream& stream, LzwState& lzw,
                        CodeOffset end_code, CodeOffset& code) {
  if (stream.position < stream.limit) [[likely]] {
    code = load_code(table, stream, lzw);
    return Reason::kNone;
  }
  BitStream moved = stream;
  LzwState changed = lzw;
  CodeOffset taken = 0;
  const Reason reason = take_code_at_limit(reader, table, moved, changed, end_code, taken);
  stream = moved;
  lzw = changed;
  code = taken;
  return reason;
}

// Every single-pixel code is its own string; the clear and end codes are
// marked by their length.
void seed_table(CodeTable& table, unsigned clear_code) {
  for (unsigned pixel = 0; pixel < clear_code; ++pixel) {
    Entry& entry = table.entries[pixel];
    entry = Entry{};
    entry.suffix[0] = static_cast<std::uint8_t>(pixel);
    entry.length_and_first = pixel << 16 | 1;
  }
  for (unsigned code = clear_code; code < clear_code + 2; ++code) {
    table.entries[code] = Entry{};
    table.entries[code].length_and_first = kControlLength;
  }
}

// Completes the entry a code adds, started from the previous string, with
// the first pixel of the code's string, where a code equal to the next free
// code is that very entry. A clear or end code completes it too, and the
// restart or the end makes it unreachable. False when the code lies past the
// next free code.
inline bool grow_table(CodeTable& table, LzwState& lzw, unsigned pixel_at, CodeOffset code) {
  const Entry& code_entry = entry_at(table, code);
  finish_entry(*lzw.added, pixel_at, code_entry);
  if (&code_entry > lzw.added) [[unlikely]]
    return false;
  ++lzw.added;
  return true;
}

// The end code, or the terminator standing for it. After an end code the rest
// of its sub-block is ignored, and the next byte of the file must be the
// terminator (the end of the file reads as 0 too).
Reason end_data(Progress& progress, InputReader& reader, const BitStream& stream) {
  if (stream.terminated) {
    progress.end = DataEnd::kTerminator;
    return Reason::kNone;
  }
  if (read_byte(reader) != 0) return Reason::kCorruptData;
  progress.end = DataEnd::kEndCode;
  return Reason::kNone;
}

// The run is full: the state between codes is kept for the next run, which
// goes on from the entry the last code's string starts.
Reason keep_for_next_run(Progress& progress, const BitStream& stream, const LzwState& lzw,
                         CodeOffset code) {
  progress.stream = stream;
  progress.lzw = lzw;
  progress.previous = code;
  progress.table_starts = false;
  return Reason::kNone;
}

// Decodes codes into the row at the cursor, and the run's rows after it,
// until they are full or the data ends. The state between codes comes out of
// the decoder into locals, so that it stays in registers while codes are
// decoded, and goes back when the run is full.
Reason run_decoder(LzwDecoder& decoder, RowCursor cursor, RunLeft& run) {
  CodeTable& table = decoder.table;
  Progress& progress = decoder.progress;
  InputReader& reader = *progress.reader;
  const unsigned code_size = progress.code_size;
  const CodeOffset clear_code = offset_of(1U << code_size);
  const CodeOffset end_code = clear_code + kEntrySize;
  BitStream stream = progress.stream;
  LzwState lzw = progress.lzw;
  CodeOffset code = progress.previous;
  Reason reason = Reason::kNone;

  for (bool table_starts = progress.table_starts;; table_starts = true) {
    if (table_starts) {
      // The first code, and the first after each clear, adds no entry and
      // cannot refer to the entry about to be made: it is a single pixel.
      restart_table(table, lzw, code_size);
      stream.limit = 0;  // the first code sets the limit for the new width
      do {
        if ((reason = take_code(reader, table, stream, lzw, end_code, code)) != Reason::kNone)
          return reason;
      } while (code == clear_code);
      if (code == end_code) return end_data(progress, reader, stream);
      if (&entry_at(table, code) >= lzw.added) return Reason::kCorruptData;
      if (emit(decoder, cursor, run, code) == Emitted::kRunFull)
        return keep_for_next_run(progress, stream, lzw, code);
    }

    for (;;) {
      unsigned pixel_at = start_entry(table, *lzw.added, code);
      // The usual code lies before the limit and its string fits in the row:
      // their loop calls nothing, so that its values can stay in registers.
      // Any other code ends it, to be taken or emitted below.
      bool at_limit = true;
      while (stream.position < stream.limit) {
        code = load_code(table, stream, lzw);
        if (!grow_table(table, lzw, pixel_at, code)) return Reason::kCorruptData;
        const unsigned length = length_of(entry_at(table, code).length_and_first);
        if (!fits_in_row(cursor, length)) {
          at_limit = false;
          break;
        }
        write_string(table, code, cursor.out, length);
        cursor.out += length;
        pixel_at = start_entry(table, *lzw.added, code);
      }
      if (at_limit) {
        if ((reason = take_code(reader, table, stream, lzw, end_code, code)) != Reason::kNone)
          return reason;
        if (!grow_table(table, lzw, pixel_at, code)) return Reason::kCorruptData;
      }
      const Emitted emitted = emit(decoder, cursor, run, code);
      if (emitted != Emitted::kPlaced) [[unlikely]] {
        if (emitted == Emitted::kRunFull) return keep_for_next_run(progress, stream, lzw, code);
        if (code == end_code) return end_data(progress, reader, stream);
        break;  // a clear code
      }
    }
  }
}

}  // namespace

LzwDecoder* obtain_decoder() {
  return static_cast<LzwDecoder*>(platform::obtain(sizeof(LzwDecoder), false));
}

void release_decoder(LzwDecoder* decoder) {
  platform::release(decoder);
}

bool is_valid_code_size(std::uint8_t code_size) {
  return code_size >= kMinCodeSize && code_size <= kMaxCodeSize;
}

void start_image_data(LzwDecoder& decoder, InputReader& reader, std::uint8_t code_size,
                      std::uint32_t width) {
  decoder.progress = Progress{};
  decoder.progress.reader = &reader;
  decoder.progress.code_size = code_size;
  decoder.progress.width = width;
  seed_table(decoder.table, 1U << code_size);
}

Reason decode_rows(LzwDecoder& decoder, const RowRun& run, std::uint32_t& filled) {
  filled = 0;
  if (decoder.progress.end != DataEnd::kNotYet) return Reason::kNone;
  RunLeft left{run.first, run.step, run.count - 1, 0};
  RowCursor cursor = start_row(run.first, decoder.progress.width);
  Reason reason = Reason::kNone;
  if (decoder.progress.spill_left == 0 || !place_spill(decoder, cursor, left))
    reason = run_decoder(decoder, cursor, left);
  filled = left.filled;
  return reason;
}

Reason decode_past_last_row(LzwDecoder& decoder) {
  decoder.progress.spill_left = 0;  // the rest of a string that ran past the last row
  if (decoder.progress.end != DataEnd::kNotYet) return Reason::kNone;
  // A row of no pixels: every string takes the slow path and is dropped there.
  RunLeft none{decoder.table.spill, 0, 0, 0};
  return run_decoder(decoder, start_row(decoder.table.spill, 0), none);
}

DataEnd data_end(const LzwDecoder& decoder) {
  return decoder.progress.end;
}

}  // namespace brevlo
