// Writes the BMP file: header, info header and palette, then the pixel rows in
// batches.
#pragma once

#include <cstdint>

#include "engine/bmp_layout.h"
#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo {

// Writes the 14-byte file header, the 40-byte info header and the 1024-byte
// palette at the start of the file, for 8 bits per pixel. Returns kNone, or
// kWriteFailed when the write fails or the whole BMP would exceed the
// process's file-size limit (then before anything is written).
Reason write_headers(platform::FileHandle bmp_file, std::uint32_t width, std::uint32_t height,
                     const Palette& palette);

// Finished pixel rows on their way to the file. Rows of a non-interlaced
// image are finished top first; the batch holds up to `capacity` consecutive
// ones in file order (the first GIF row in the last slot), so that a single
// positioned write places them all. Rows of an interlaced image arrive in four
// passes and lie apart in the file. While the first pass fills the pixel area
// (see plan_interlaced_rows), the batch is a window of `capacity` consecutive
// rows: the pass's rows, every 8th, land in their slots among zero rows, and
// each window is written whole. After it, each held row is written to its own
// place. Each slot is stride bytes; the bytes past the width are never
// written and stay zero.
struct RowBatch {
  platform::FileHandle file = platform::kNoFile;
  std::uint8_t* slots = nullptr;  // capacity * stride bytes, zero-filled
  std::uint64_t stride = 0;
  std::uint32_t height = 0;
  std::uint32_t capacity = 0;
  std::uint32_t first_row = 0;  // rows written so far; the GIF row in the last slot
  std::uint32_t filled = 0;     // finished rows held, from the last slot down
  bool interlaced = false;
  bool filling = false;              // interlaced: the first pass fills the area (see above)
  std::uint32_t window_start = 0;    // filling: the GIF row of the window's last slot
  std::uint32_t pass = 0;            // interlaced: the pass of the next row written
  std::uint32_t interlaced_row = 0;  // interlaced: the GIF row of the next row written
};

// Rows finished so far, written or held.
inline std::uint32_t rows_finished(const RowBatch& batch) {
  return batch.first_row + batch.filled;
}

// The slot of the next row to be finished.
inline std::uint8_t* next_row_slot(const RowBatch& batch) {
  const std::uint32_t from_last =
      batch.filling ? batch.interlaced_row - batch.window_start : batch.filled;
  return batch.slots + std::uint64_t{batch.capacity - 1 - from_last} * batch.stride;
}

// Readies the batch for an interlaced image, before any row is decoded. The
// pixel area of an image of ordinary size is filled as the first pass goes,
// its windows zero but for that pass's rows, and to its end when the pass is
// over, so that later rows, lying apart, arrive over pages the file already
// has, which costs the system far less than the partial pages they would
// otherwise start. A pixel area larger than kZeroFillLimit stays sparse, as a
// non-interlaced image's does: a small file may describe a huge image whose
// rows it never reaches.
void plan_interlaced_rows(RowBatch& batch);

// Hands over the row just finished in next_row_slot, writing what is due: a
// full batch, the last row, or a window the first pass has left. Returns
// kNone, or kWriteFailed when a write fails.
Reason hand_over_row(RowBatch& batch);

// Writes the rows held to their place in the file and empties the batch.
// Returns kNone, or kWriteFailed when the write fails.
Reason write_batch(RowBatch& batch);

// The image data ended before every row was finished: the row being filled in
// next_row_slot is left as the rows never reached are, zero. Its slot may hold
// the pixels decoded so far and bytes past them, and a window of the first
// pass is written whole.
void drop_unfinished_row(RowBatch& batch);

// Gives a file in which no row was written its full announced size: its last
// byte is written and the gap before it reads as zero. Returns kNone, or
// kWriteFailed when the write fails.
Reason complete_file_size(const RowBatch& batch);

}  // namespace brevlo
