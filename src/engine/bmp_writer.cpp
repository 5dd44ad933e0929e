#include "engine/bmp_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace brevlo {

namespace {

constexpr std::uint16_t kBmpSignature = 0x4D42;  // "BM"

void put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// An interlaced image's rows, as they arrive: every 8th row from row 0, every
// 8th from row 4, every 4th from row 2, then every 2nd from row 1.
struct InterlacePass {
  std::uint32_t start;
  std::uint32_t step;
};
constexpr InterlacePass kInterlacePasses[] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
constexpr std::uint32_t kLastPass = 3;

// Moves to the row that arrives after interlaced_row, skipping passes that
// hold no row in an image this short.
void advance_interlaced(RowBatch& batch) {
  batch.interlaced_row += kInterlacePasses[batch.pass].step;
  while (batch.interlaced_row >= batch.height && batch.pass < kLastPass) {
    ++batch.pass;
    batch.interlaced_row = kInterlacePasses[batch.pass].start;
  }
}

// The first pass's rows lie every kFirstPassStep rows from the top.
constexpr std::uint32_t kFirstPassStep = kInterlacePasses[0].step;

// While the first pass fills the area: writes the window, its first pass rows
// among zero rows, whole, from its first GIF row to its last or the image's.
Reason write_window(const RowBatch& batch) {
  const std::uint32_t count = std::min(batch.capacity, batch.height - batch.window_start);
  const std::uint64_t offset =
      row_offset(batch.stride, batch.height, batch.window_start + count - 1);
  const std::uint8_t* from = batch.slots + std::uint64_t{batch.capacity - count} * batch.stride;
  return platform::write_at(batch.file, offset, from, std::uint64_t{count} * batch.stride)
             ? Reason::kNone
             : Reason::kWriteFailed;
}

// After a window is written: its rows count as written, the slots of the
// first pass's rows in it are zero again, and it moves on to the next rows.
void next_window(RowBatch& batch) {
  batch.first_row += batch.filled;
  batch.filled = 0;
  const std::uint32_t end = std::min(batch.window_start + batch.capacity, batch.height);
  const std::uint32_t first = (batch.window_start + kFirstPassStep - 1) / kFirstPassStep;
  for (std::uint32_t row = first * kFirstPassStep; row < end; row += kFirstPassStep) {
    const std::uint32_t from_last = row - batch.window_start;
    std::memset(batch.slots + std::uint64_t{batch.capacity - 1 - from_last} * batch.stride, 0,
                batch.stride);
  }
  batch.window_start += batch.capacity;
}

// While the first pass fills the area, a row was finished in its window:
// writes every window the pass has now left, and when the pass is over every
// window to the image's end, after which rows go one by one.
Reason place_in_window(RowBatch& batch) {
  advance_interlaced(batch);
  while (batch.pass == 0 ? batch.interlaced_row >= batch.window_start + batch.capacity
                         : batch.window_start < batch.height) {
    if (write_window(batch) != Reason::kNone) return Reason::kWriteFailed;
    next_window(batch);
  }
  batch.filling = batch.pass == 0;
  return Reason::kNone;
}

// Writes each held row of an interlaced image to its own place.
Reason write_interlaced(RowBatch& batch) {
  const std::uint32_t held = batch.filled;
  batch.first_row += held;
  batch.filled = 0;
  for (std::uint32_t i = 0; i < held; ++i) {
    const std::uint8_t* row = batch.slots + std::uint64_t{batch.capacity - 1 - i} * batch.stride;
    const std::uint64_t offset = row_offset(batch.stride, batch.height, batch.interlaced_row);
    advance_interlaced(batch);
    if (!platform::write_at(batch.file, offset, row, batch.stride)) return Reason::kWriteFailed;
  }
  return Reason::kNone;
}

}  // namespace

Reason write_headers(platform::FileHandle bmp_file, std::uint32_t width, std::uint32_t height,
                     const Palette& palette) {
  const std::uint64_t bmp_size = kBmpPixelOffset + stride_for(width) * height;
  // Every later write lies inside the size announced here, so a file-size
  // limit is met now, before a byte is written, never half way.
  if (!platform::may_grow_to(bmp_file, bmp_size)) return Reason::kWriteFailed;
  std::array<std::uint8_t, kBmpPixelOffset> headers{};
  std::uint8_t* h = headers.data();
  put16(h + 0, kBmpSignature);
  put32(h + 2, static_cast<std::uint32_t>(bmp_size));  // at most 65536 * 65535 + 1078
  put32(h + 10, kBmpPixelOffset);
  put32(h + 14, kBmpInfoHeaderSize);
  put32(h + 18, width);
  put32(h + 22, height);
  put16(h + 26, 1);  // planes
  put16(h + 28, kBitsPerPixel);
  std::memcpy(h + kBmpFileHeaderSize + kBmpInfoHeaderSize, palette.data(), kPaletteSize);
  return platform::write_at(bmp_file, 0, headers.data(), headers.size()) ? Reason::kNone
                                                                         : Reason::kWriteFailed;
}

void plan_interlaced_rows(RowBatch& batch) {
  batch.interlaced = true;
  batch.filling = batch.stride * batch.height <= kZeroFillLimit;
}

Reason hand_over_row(RowBatch& batch) {
  ++batch.filled;
  if (batch.filling) return place_in_window(batch);
  if (rows_finished(batch) == batch.height || batch.filled == batch.capacity)
    return write_batch(batch);
  return Reason::kNone;
}

Reason write_batch(RowBatch& batch) {
  if (batch.filled == 0) return Reason::kNone;
  if (batch.filling) {
    const Reason reason = write_window(batch);
    next_window(batch);
    return reason;
  }
  if (batch.interlaced) return write_interlaced(batch);
  const std::uint32_t lowest_row = rows_finished(batch) - 1;  // the first in the file
  const std::uint64_t offset = row_offset(batch.stride, batch.height, lowest_row);
  const std::uint8_t* from =
      batch.slots + std::uint64_t{batch.capacity - batch.filled} * batch.stride;
  const std::uint64_t size = std::uint64_t{batch.filled} * batch.stride;
  batch.first_row += batch.filled;
  batch.filled = 0;
  return platform::write_at(batch.file, offset, from, size) ? Reason::kNone : Reason::kWriteFailed;
}

void drop_unfinished_row(RowBatch& batch) {
  if (rows_finished(batch) < batch.height) std::memset(next_row_slot(batch), 0, batch.stride);
}

Reason complete_file_size(const RowBatch& batch) {
  if (rows_finished(batch) > 0) return Reason::kNone;
  const std::uint8_t zero = 0;
  const std::uint64_t last_byte = kBmpPixelOffset + batch.stride * batch.height - 1;
  return platform::write_at(batch.file, last_byte, &zero, 1) ? Reason::kNone : Reason::kWriteFailed;
}

}  // namespace brevlo
