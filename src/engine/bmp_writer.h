// Writes the BMP file: header, info header and palette, then the pixel rows in
// batches, each row where its place in the picture puts it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/bmp_layout.h"
#include "engine/conversion.h"
#include "engine/interlace.h"
#include "platform/platform.h"

namespace brevlo {

// One image's rows on their way to the BMP file. Rows of a non-interlaced
// image are finished top first; the batch holds up to `capacity` consecutive
// ones in file order (the first GIF row in the last slot), so that a single
// positioned write places them all. Rows of an interlaced image arrive in four
// passes and lie apart in the file. While the first pass fills the pixel area
// (see plan_rows), the batch is a window of `capacity` consecutive rows: the
// pass's rows, every 8th, land in their slots among zero rows, and each window
// is written whole. After it, each held row is written to its own place. Each
// slot is stride bytes; the bytes past the width are never written and stay
// zero.
struct RowBatch {
  platform::FileHandle file = platform::kNoFile;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint64_t stride = 0;
  std::uint8_t* slots = nullptr;  // capacity * stride bytes, zero-filled
  std::uint32_t capacity = 0;
  // Rows written to the file so far. Of a non-interlaced image they are its
  // top rows, so this is also the GIF row held in the last slot.
  std::uint32_t rows_written = 0;
  std::uint32_t filled = 0;  // finished rows held, from the last slot down
  bool interlaced = false;
  bool filling = false;              // interlaced: the first pass fills the area (see above)
  std::uint32_t window_start = 0;    // filling: the GIF row of the window's last slot
  std::uint32_t pass = 0;            // interlaced: the pass of the next row written
  std::uint32_t interlaced_row = 0;  // interlaced: the GIF row of the next row written
  // The system's error number (platform::last_error) of the write that
  // failed, taken straight after it; 0 while none has.
  int system_error = 0;
};

// The batch for an image of width x height to be written to file, before any
// memory is obtained. The pixel area of an interlaced image of ordinary size
// is filled as the first pass goes, its windows zero but for that pass's rows,
// and to its end when the pass is over, so that later rows, lying apart,
// arrive over pages the file already has, which costs the system far less
// than the partial pages they would otherwise start. A pixel area larger than
// kZeroFillLimit stays sparse, as a non-interlaced image's does: a small file
// may describe a huge image whose rows it never reaches.
RowBatch plan_rows(platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                   bool interlaced);

// Writes the headers of a BMP of width x height pixels at the start of file:
// with a palette, the 14-byte file header, the 40-byte info header and the
// 1024-byte palette, for 8 bits per pixel; without one (null), the two
// headers of a 24-bit BMP (see bmp_layout.h). Returns kNone, or kWriteFailed,
// with the system's error number in system_error, when the write fails or the
// whole BMP would exceed the process's file-size limit (then before anything
// is written).
Reason write_bmp_headers(platform::FileHandle file, std::uint32_t width, std::uint32_t height,
                         const Palette* palette, int& system_error);

// Writes the 8-bit headers of the batch's image, as write_bmp_headers does,
// the system's error number going to batch.system_error.
Reason write_headers(RowBatch& batch, const Palette& palette);

// Obtains the slots of a batch whose image is not empty, zero-filled. False
// when the memory cannot be had; platform::last_error then says why.
bool obtain_slots(RowBatch& batch);

// Releases the slots; a batch without them is left as it is.
void release_slots(RowBatch& batch);

// Rows finished so far, written or held.
inline std::uint32_t rows_finished(const RowBatch& batch) {
  return batch.rows_written + batch.filled;
}

// The slot of the next row to be finished: width bytes for its pixels.
inline std::uint8_t* next_row_slot(const RowBatch& batch) {
  const std::uint32_t from_last =
      batch.filling ? batch.interlaced_row - batch.window_start : batch.filled;
  return batch.slots + std::uint64_t{batch.capacity - 1 - from_last} * batch.stride;
}

// The bytes from a slot to the slot of the row finished after it: a stride
// down, or while the first pass fills a window kFirstPassStep strides, to its
// next row.
inline std::ptrdiff_t slot_step(const RowBatch& batch) {
  return -static_cast<std::ptrdiff_t>(batch.filling ? kFirstPassStep * batch.stride : batch.stride);
}

// The rows to be finished, from next_row_slot on and each slot_step from the
// one before, before a write is due: those that fill the batch, end the image,
// or end the first pass's rows in a window. At least one while rows remain.
std::uint32_t rows_before_write(const RowBatch& batch);

// Hands over `count` rows just finished, no more than rows_before_write, from
// next_row_slot on, and writes what is then due: a full batch, the last row,
// or a window the first pass has left. Returns kNone, or kWriteFailed when a
// write fails.
Reason hand_over_rows(RowBatch& batch, std::uint32_t count);

// The image's rows are over, every one finished or the data ended first: the
// row left unfinished in next_row_slot is zero like the rows never reached
// (its slot may hold pixels and bytes past them, and a first-pass window is
// written whole), the rows held are written, and a file in which no row was
// written gets its full announced size, the gap before its last byte reading
// as zero. Returns kNone, or kWriteFailed when a write fails.
Reason finish_rows(RowBatch& batch);

// The conversion fails for reason: the rows finished but still held are
// written first, so that a failing write is reported as it would be had each
// row been written at once. Returns kWriteFailed when that write fails, and
// reason otherwise.
Reason fail_after_held_rows(RowBatch& batch, Reason reason);

}  // namespace brevlo
