#include "engine/frame_writer.h"

#include <algorithm>
#include <cstring>

#include "engine/bmp_writer.h"

namespace brevlo {

namespace {

// No colour and no cell: colours have a zero top byte, cells at most 0x01.
constexpr std::uint32_t kNoColour = 0xFFFFFFFF;

constexpr std::uint16_t kBmpSignature = 0x4D42;  // "BM"

void put_le(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The slot that holds colour, or the empty one where it would go.
std::uint32_t slot_for(const FrameWriter& writer, std::uint32_t colour) {
  std::uint32_t slot = (colour * 0x9E3779B1U) >> (32 - kColourSlotBits);
  while (writer.slot_colour[slot] != colour && writer.slot_colour[slot] != kNoColour)
    slot = (slot + 1) & (kColourSlots - 1);
  return slot;
}

// Gathers the wide canvas's distinct colours, sorted, each with its palette
// index. False as soon as a 257th appears.
bool gather_colours(FrameWriter& writer, const Canvas& canvas) {
  writer.slot_colour.fill(kNoColour);
  writer.colour_count = 0;
  const std::uint64_t count = std::uint64_t{canvas.width} * canvas.height;
  Cell previous = kNoColour;
  for (std::uint64_t i = 0; i < count; ++i) {
    const Cell cell = canvas.cells[i];
    if (cell == previous) continue;  // runs of one colour cost a comparison
    previous = cell;
    const std::uint32_t colour = colour_of(canvas, cell);
    const std::uint32_t slot = slot_for(writer, colour);
    if (writer.slot_colour[slot] == colour) continue;
    if (writer.colour_count == kPaletteEntries) return false;
    writer.slot_colour[slot] = colour;
    writer.colours[writer.colour_count++] = colour;
  }
  std::sort(writer.colours.begin(), writer.colours.begin() + writer.colour_count);
  for (std::uint32_t i = 0; i < writer.colour_count; ++i)
    writer.slot_index[slot_for(writer, writer.colours[i])] = static_cast<std::uint8_t>(i);
  return true;
}

Reason obtain_batch(FrameWriter& writer, const Canvas& canvas) {
  if (writer.batch != nullptr) return Reason::kNone;
  // Sized for the widest rows a frame of this canvas can have, the 24-bit ones.
  const std::uint64_t stride = true_colour_stride_for(canvas.width);
  writer.batch_bytes = rows_per_batch(stride, canvas.height) * stride;
  writer.batch = static_cast<std::uint8_t*>(
      platform::obtain(static_cast<std::size_t>(writer.batch_bytes), false));
  return writer.batch != nullptr ? Reason::kNone : Reason::kNoMemory;
}

// The headers of a 24-bit BMP (see bmp_layout.h), after the file-size limit
// is met for the whole file.
Reason write_true_colour_headers(platform::FileHandle bmp_file, std::uint32_t width,
                                 std::uint32_t height) {
  const std::uint64_t bmp_size = kBmpTrueColourPixelOffset + true_colour_stride_for(width) * height;
  if (!platform::may_grow_to(bmp_file, bmp_size)) return Reason::kWriteFailed;
  std::array<std::uint8_t, kBmpTrueColourPixelOffset> headers{};
  std::uint8_t* h = headers.data();
  put_le(h + 0, kBmpSignature, 2);
  put_le(h + 2, static_cast<std::uint32_t>(bmp_size), 4);  // under 3 * 2^28 + 54 + padding
  put_le(h + 10, kBmpTrueColourPixelOffset, 4);
  put_le(h + 14, kBmpInfoHeaderSize, 4);
  put_le(h + 18, width, 4);
  put_le(h + 22, height, 4);
  put_le(h + 26, 1, 2);  // planes
  put_le(h + 28, kTrueColourBitsPerPixel, 2);
  return platform::write_at(bmp_file, 0, headers.data(), headers.size()) ? Reason::kNone
                                                                         : Reason::kWriteFailed;
}

Reason write_frame_headers(const FrameWriter& writer, const Canvas& canvas,
                           platform::FileHandle bmp_file) {
  switch (writer.kind) {
    case FrameKind::kGlobalIndices:
      return write_headers(bmp_file, canvas.width, canvas.height, canvas.global_palette);
    case FrameKind::kOwnPalette: {
      Palette palette{};
      for (std::uint32_t i = 0; i < writer.colour_count; ++i)
        put_le(palette.data() + 4 * i, writer.colours[i], 4);  // blue, green, red, 0
      return write_headers(bmp_file, canvas.width, canvas.height, palette);
    }
    case FrameKind::kTrueColour:
      return write_true_colour_headers(bmp_file, canvas.width, canvas.height);
  }
  return Reason::kWriteFailed;
}

// One BMP row from canvas row y, padded with zeros to stride. Returns the
// bytes of pixels written.
std::uint64_t fill_pixels(const FrameWriter& writer, const Canvas& canvas, std::uint32_t y,
                          std::uint8_t* row) {
  const std::uint32_t width = canvas.width;
  const std::uint64_t first = std::uint64_t{y} * width;
  if (canvas.indices != nullptr) {  // narrow: every frame is all global
    std::memcpy(row, canvas.indices + first, width);
    return width;
  }
  const Cell* cells = canvas.cells + first;
  switch (writer.kind) {
    case FrameKind::kGlobalIndices:
      for (std::uint32_t x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(cells[x]);
      return width;
    case FrameKind::kOwnPalette: {
      Cell previous = kNoColour;
      std::uint8_t index = 0;
      for (std::uint32_t x = 0; x < width; ++x) {
        if (cells[x] != previous) {
          previous = cells[x];
          index = writer.slot_index[slot_for(writer, colour_of(canvas, previous))];
        }
        row[x] = index;
      }
      return width;
    }
    case FrameKind::kTrueColour:
      for (std::uint32_t x = 0; x < width; ++x)
        put_le(row + std::size_t{3} * x, colour_of(canvas, cells[x]), 3);  // blue, green, red
      return std::uint64_t{width} * kTrueColourBytesPerPixel;
  }
  return 0;
}

// Writes every row, bottom-up, as many to a positioned write as the batch
// holds: consecutive canvas rows lie back to back in the file, last first.
Reason write_rows(FrameWriter& writer, const Canvas& canvas, platform::FileHandle bmp_file) {
  const bool true_colour = writer.kind == FrameKind::kTrueColour;
  const std::uint64_t stride =
      true_colour ? true_colour_stride_for(canvas.width) : stride_for(canvas.width);
  const std::uint64_t pixel_offset = true_colour ? kBmpTrueColourPixelOffset : kBmpPixelOffset;
  const auto per_batch = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(writer.batch_bytes / stride, canvas.height));
  for (std::uint32_t first = 0; first < canvas.height; first += per_batch) {
    const std::uint32_t count = std::min(per_batch, canvas.height - first);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint8_t* row = writer.batch + std::uint64_t{count - 1 - i} * stride;
      const std::uint64_t used = fill_pixels(writer, canvas, first + i, row);
      std::memset(row + used, 0, stride - used);
    }
    const std::uint64_t offset =
        pixel_offset + std::uint64_t{canvas.height - first - count} * stride;
    if (!platform::write_at(bmp_file, offset, writer.batch, count * stride))
      return Reason::kWriteFailed;
  }
  return Reason::kNone;
}

}  // namespace

FrameKind classify_frame(FrameWriter& writer, const Canvas& canvas) {
  if (canvas.indices != nullptr) return FrameKind::kGlobalIndices;
  const Cell* cells = canvas.cells;
  const Cell* end = cells + std::uint64_t{canvas.width} * canvas.height;
  if (std::all_of(cells, end, [](Cell cell) { return cell >= kGlobalCell; }))
    return FrameKind::kGlobalIndices;
  return gather_colours(writer, canvas) ? FrameKind::kOwnPalette : FrameKind::kTrueColour;
}

Reason write_frame(FrameWriter& writer, const Canvas& canvas, platform::FileHandle bmp_file) {
  writer.kind = classify_frame(writer, canvas);
  Reason reason = obtain_batch(writer, canvas);
  if (reason == Reason::kNone) reason = write_frame_headers(writer, canvas, bmp_file);
  if (reason == Reason::kNone) reason = write_rows(writer, canvas, bmp_file);
  return reason;
}

void close_frame_writer(FrameWriter& writer) {
  platform::release(writer.batch);
  writer.batch = nullptr;
  writer.batch_bytes = 0;
}

}  // namespace brevlo
