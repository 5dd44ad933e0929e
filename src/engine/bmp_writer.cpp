#include "engine/bmp_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "engine/little_endian.h"

namespace brevlo {

namespace {

constexpr std::uint32_t kLastPass = std::size(kInterlacePasses) - 1;

// Writes size bytes at offset of the batch's file. A failure's error number is
// taken straight after the write, before any other call can change it.
Reason write_at(RowBatch& batch, std::uint64_t offset, const std::uint8_t* from,
                std::uint64_t size) {
  if (platform::write_at(batch.file, offset, from, size)) return Reason::kNone;
  batch.system_error = platform::last_error();
  return Reason::kWriteFailed;
}

std::uint8_t* slot(const RowBatch& batch, std::uint32_t from_last) {
  return batch.slots + std::uint64_t{batch.capacity - 1 - from_last} * batch.stride;
}

// Moves to the row that arrives after interlaced_row, skipping passes that
// hold no row in an image this short.
void advance_interlaced(RowBatch& batch) {
  batch.interlaced_row += kInterlacePasses[batch.pass].step;
  while (batch.interlaced_row >= batch.height && batch.pass < kLastPass) {
    ++batch.pass;
    batch.interlaced_row = kInterlacePasses[batch.pass].start;
  }
}

// While the first pass fills the area: writes the window, its first pass rows
// among zero rows, whole, from its first GIF row to its last or the image's.
Reason write_window(RowBatch& batch) {
  const std::uint32_t count = std::min(batch.capacity, batch.height - batch.window_start);
  const std::uint64_t offset =
      row_offset(batch.stride, batch.height, batch.window_start + count - 1);
  return write_at(batch, offset, slot(batch, count - 1), std::uint64_t{count} * batch.stride);
}

// After a window is written: its rows count as written, the slots of the
// first pass's rows in it are zero again, and it moves on to the next rows.
void next_window(RowBatch& batch) {
  batch.rows_written += batch.filled;
  batch.filled = 0;
  const std::uint32_t end = std::min(batch.window_start + batch.capacity, batch.height);
  const std::uint32_t first = (batch.window_start + kFirstPassStep - 1) / kFirstPassStep;
  for (std::uint32_t row = first * kFirstPassStep; row < end; row += kFirstPassStep)
    std::memset(slot(batch, row - batch.window_start), 0, batch.stride);
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
  batch.rows_written += held;
  batch.filled = 0;
  for (std::uint32_t i = 0; i < held; ++i) {
    const std::uint64_t offset = row_offset(batch.stride, batch.height, batch.interlaced_row);
    advance_interlaced(batch);
    if (write_at(batch, offset, slot(batch, i), batch.stride) != Reason::kNone)
      return Reason::kWriteFailed;
  }
  return Reason::kNone;
}

// Writes the rows held to their place in the file and empties the batch.
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
  const std::uint8_t* from = slot(batch, batch.filled - 1);
  const std::uint64_t size = std::uint64_t{batch.filled} * batch.stride;
  batch.rows_written += batch.filled;
  batch.filled = 0;
  return write_at(batch, offset, from, size);
}

}  // namespace

RowBatch plan_rows(platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                   bool interlaced) {
  RowBatch batch;
  batch.file = file;
  batch.width = width;
  batch.height = height;
  batch.stride = stride_for(width);
  batch.interlaced = interlaced;
  batch.filling = interlaced && batch.stride * height <= kZeroFillLimit;
  return batch;
}

Reason write_bmp_headers(platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                         const Palette* palette, int& system_error) {
  const bool true_colour = palette == nullptr;
  const std::uint32_t pixel_offset = true_colour ? kBmpTrueColourPixelOffset : kBmpPixelOffset;
  const std::uint64_t stride = true_colour ? true_colour_stride_for(width) : stride_for(width);
  const std::uint64_t bmp_size = pixel_offset + stride * height;
  // Every later write lies inside the size announced here, so a file-size
  // limit is met now, before a byte is written, never half way.
  if (!platform::may_grow_to(file, bmp_size)) {
    system_error = platform::last_error();
    return Reason::kWriteFailed;
  }
  std::array<std::uint8_t, kBmpPixelOffset> headers{};
  std::uint8_t* h = headers.data();
  put_le(h + kTypeAt, kBmpType, 2);
  // At most 65536 * 65535 + 1078 for 8 bits, 3 * 2^28 + 54 and padding for 24.
  put_le(h + kFileSizeAt, static_cast<std::uint32_t>(bmp_size), 4);
  put_le(h + kPixelOffsetAt, pixel_offset, 4);
  put_le(h + kInfoSizeAt, kBmpInfoHeaderSize, 4);
  put_le(h + kWidthAt, width, 4);
  put_le(h + kHeightAt, height, 4);
  put_le(h + kPlanesAt, kPlanes, 2);
  put_le(h + kBitCountAt, true_colour ? kTrueColourBitsPerPixel : kBitsPerPixel, 2);
  if (!true_colour) std::memcpy(h + kPaletteAt, palette->data(), kPaletteSize);
  if (platform::write_at(file, 0, headers.data(), pixel_offset)) return Reason::kNone;
  system_error = platform::last_error();
  return Reason::kWriteFailed;
}

Reason write_headers(RowBatch& batch, const Palette& palette) {
  return write_bmp_headers(batch.file, batch.width, batch.height, &palette, batch.system_error);
}

bool obtain_slots(RowBatch& batch) {
  batch.capacity = rows_per_batch(batch.stride, batch.height);
  batch.slots = static_cast<std::uint8_t*>(
      platform::obtain(std::uint64_t{batch.capacity} * batch.stride, true));
  return batch.slots != nullptr;
}

void release_slots(RowBatch& batch) {
  platform::release(batch.slots);
  batch.slots = nullptr;
}

std::uint32_t rows_before_write(const RowBatch& batch) {
  if (batch.filling) {
    const std::uint32_t end = std::min(batch.window_start + batch.capacity, batch.height);
    return (end - 1 - batch.interlaced_row) / kFirstPassStep + 1;
  }
  return std::min(batch.capacity - batch.filled, batch.height - rows_finished(batch));
}

Reason hand_over_rows(RowBatch& batch, std::uint32_t count) {
  if (batch.filling) {
    for (std::uint32_t i = 0; i < count; ++i) {
      ++batch.filled;
      if (place_in_window(batch) != Reason::kNone) return Reason::kWriteFailed;
    }
    return Reason::kNone;
  }
  batch.filled += count;
  if (rows_finished(batch) == batch.height || batch.filled == batch.capacity)
    return write_batch(batch);
  return Reason::kNone;
}

Reason finish_rows(RowBatch& batch) {
  if (rows_finished(batch) < batch.height) std::memset(next_row_slot(batch), 0, batch.stride);
  if (write_batch(batch) != Reason::kNone) return Reason::kWriteFailed;
  if (rows_finished(batch) > 0) return Reason::kNone;
  const std::uint8_t zero = 0;
  const std::uint64_t last_byte = kBmpPixelOffset + batch.stride * batch.height - 1;
  return write_at(batch, last_byte, &zero, 1);
}

Reason fail_after_held_rows(RowBatch& batch, Reason reason) {
  if (reason != Reason::kWriteFailed && write_batch(batch) != Reason::kNone)
    return Reason::kWriteFailed;
  return reason;
}

}  // namespace brevlo
