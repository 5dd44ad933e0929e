#include "engine/frame_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/bmp_writer.h"
#include "engine/little_endian.h"

namespace brevlo {

// A frame's distinct colours (0x00RRGGBB) are gathered in an open-addressed
// set of twice the palette's size, which a 257th colour never fills; each
// colour's slot then holds its palette index. In front of it, a direct-mapped
// cache remembers the cells met lately, so that a cell seen before, by far
// the common case, costs one probe whose outcome the processor foresees.
constexpr std::uint32_t kColourSlotBits = 9;
constexpr std::uint32_t kColourSlots = std::uint32_t{1} << kColourSlotBits;
static_assert(kColourSlots >= 2 * kPaletteEntries);
constexpr std::uint32_t kCellCacheBits = 11;
constexpr std::uint32_t kCellCacheSize = std::uint32_t{1} << kCellCacheBits;

struct FrameColours {
  std::uint32_t count = 0;
  std::array<std::uint32_t, kPaletteEntries> sorted{};  // ascending: the palette
  std::array<std::uint32_t, kColourSlots> slot_colour{};
  std::array<std::uint8_t, kColourSlots> slot_index{};
  std::array<Cell, kCellCacheSize> cached_cell{};
  std::array<std::uint8_t, kCellCacheSize> cached_index{};  // the cached cell's palette index
};

namespace {

// No colour and no cell: colours have a zero top byte, cells at most 0x01.
constexpr std::uint32_t kNoColour = 0xFFFFFFFF;

constexpr std::uint32_t kGoldenRatio = 0x9E3779B1U;  // spreads neighbouring values apart

std::uint32_t cache_slot(Cell cell) {
  return (cell * kGoldenRatio) >> (32 - kCellCacheBits);
}

// The slot that holds colour, or the empty one where it would go.
std::uint32_t colour_slot(const FrameColours& colours, std::uint32_t colour) {
  std::uint32_t slot = (colour * kGoldenRatio) >> (32 - kColourSlotBits);
  while (colours.slot_colour[slot] != colour && colours.slot_colour[slot] != kNoColour)
    slot = (slot + 1) & (kColourSlots - 1);
  return slot;
}

// Adds colour to the set; false when it is a 257th.
bool add_colour(FrameColours& colours, std::uint32_t colour) {
  const std::uint32_t slot = colour_slot(colours, colour);
  if (colours.slot_colour[slot] == colour) return true;
  if (colours.count == kPaletteEntries) return false;
  colours.slot_colour[slot] = colour;
  colours.sorted[colours.count++] = colour;
  return true;
}

std::uint8_t palette_index(const FrameColours& colours, const Canvas& canvas, Cell cell) {
  return colours.slot_index[colour_slot(colours, colour_of(canvas, cell))];
}

// Gathers the wide canvas's distinct colours, sorted, each with its palette
// index, and the cached cells' indices. False as soon as a 257th appears.
bool gather_colours(FrameColours& colours, const Canvas& canvas) {
  colours.count = 0;
  colours.slot_colour.fill(kNoColour);
  colours.cached_cell.fill(kNoColour);
  const std::uint64_t count = std::uint64_t{canvas.width} * canvas.height;
  for (std::uint64_t i = 0; i < count; ++i) {
    const Cell cell = canvas.cells[i];
    const std::uint32_t cached = cache_slot(cell);
    if (colours.cached_cell[cached] == cell) continue;
    colours.cached_cell[cached] = cell;
    if (!add_colour(colours, colour_of(canvas, cell))) return false;
  }
  std::sort(colours.sorted.begin(), colours.sorted.begin() + colours.count);
  for (std::uint32_t i = 0; i < colours.count; ++i)
    colours.slot_index[colour_slot(colours, colours.sorted[i])] = static_cast<std::uint8_t>(i);
  for (std::uint32_t i = 0; i < kCellCacheSize; ++i)
    if (colours.cached_cell[i] != kNoColour)
      colours.cached_index[i] = palette_index(colours, canvas, colours.cached_cell[i]);
  return true;
}

// True when every cell of the wide canvas is a global index. The marks are
// gathered a block of cells at a time, a loop that vectorises, and a block
// with any colour in it ends the search.
bool all_global(const Canvas& canvas) {
  constexpr std::uint64_t kBlock = 256;
  const std::uint64_t count = std::uint64_t{canvas.width} * canvas.height;
  for (std::uint64_t start = 0; start < count; start += kBlock) {
    const std::uint64_t end = std::min(start + kBlock, count);
    Cell marks = kGlobalCell;
    for (std::uint64_t i = start; i < end; ++i) marks &= canvas.cells[i];
    if (marks == 0) return false;
  }
  return true;
}

FrameKind classify_frame(FrameColours& colours, const Canvas& canvas) {
  if (canvas.indices != nullptr) return FrameKind::kGlobalIndices;
  if (all_global(canvas)) return FrameKind::kGlobalIndices;
  return gather_colours(colours, canvas) ? FrameKind::kOwnPalette : FrameKind::kTrueColour;
}

// One block for the file: the colour tables, then a row batch sized for the
// widest rows a frame of this canvas can have, the 24-bit ones. A writer
// handed a wider canvas than its block serves obtains one anew.
Reason obtain_block(FrameWriter& writer, const Canvas& canvas) {
  const std::uint64_t stride = true_colour_stride_for(canvas.width);
  if (writer.colours != nullptr && writer.batch_bytes >= stride) return Reason::kNone;
  close_frame_writer(writer);
  writer.batch_bytes = rows_per_batch(stride, canvas.height) * stride;
  void* const block =
      platform::obtain(static_cast<std::size_t>(sizeof(FrameColours) + writer.batch_bytes), false);
  if (block == nullptr) return Reason::kNoMemory;
  writer.colours = static_cast<FrameColours*>(block);
  writer.batch = static_cast<std::uint8_t*>(block) + sizeof(FrameColours);
  return Reason::kNone;
}

Reason write_frame_headers(FrameWriter& writer, const Canvas& canvas,
                           platform::FileHandle bmp_file) {
  switch (writer.kind) {
    case FrameKind::kGlobalIndices:
      return write_bmp_headers(bmp_file, canvas.width, canvas.height, &canvas.global_palette,
                               writer.system_error);
    case FrameKind::kOwnPalette: {
      Palette palette{};  // blue, green, red, 0: a colour 0x00RRGGBB stored little-endian
      for (std::uint32_t i = 0; i < writer.colours->count; ++i)
        put_le(palette.data() + std::size_t{4} * i, writer.colours->sorted[i], 4);
      return write_bmp_headers(bmp_file, canvas.width, canvas.height, &palette,
                               writer.system_error);
    }
    case FrameKind::kTrueColour:
      return write_bmp_headers(bmp_file, canvas.width, canvas.height, nullptr, writer.system_error);
  }
  return Reason::kWriteFailed;
}

void fill_own_palette_indices(FrameColours& colours, const Canvas& canvas, const Cell* cells,
                              std::uint8_t* row) {
  const std::uint32_t width = canvas.width;  // held in a register: the row's bytes may alias it
  for (std::uint32_t x = 0; x < width; ++x) {
    const Cell cell = cells[x];
    const std::uint32_t cached = cache_slot(cell);
    if (colours.cached_cell[cached] != cell) {
      colours.cached_cell[cached] = cell;
      colours.cached_index[cached] = palette_index(colours, canvas, cell);
    }
    row[x] = colours.cached_index[cached];
  }
}

// Blue, green, red per pixel. Each pixel is stored as four bytes, the fourth
// overwritten by the next pixel, but for the last, which would pass the row.
void fill_true_colour(const Canvas& canvas, const Cell* cells, std::uint8_t* row) {
  const std::uint32_t last = canvas.width - 1;
  for (std::uint32_t x = 0; x < last; ++x) {
    const std::uint32_t colour = colour_of(canvas, cells[x]);
    put_le(row + std::size_t{3} * x, colour, 4);
  }
  put_le(row + std::size_t{3} * last, colour_of(canvas, cells[last]), 3);
}

// One BMP row from canvas row y. Returns the bytes of pixels written.
std::uint64_t fill_pixels(FrameWriter& writer, const Canvas& canvas, std::uint32_t y,
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
    case FrameKind::kOwnPalette:
      fill_own_palette_indices(*writer.colours, canvas, cells, row);
      return width;
    case FrameKind::kTrueColour:
      fill_true_colour(canvas, cells, row);
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
    if (!platform::write_at(bmp_file, offset, writer.batch, count * stride)) {
      writer.system_error = platform::last_error();
      return Reason::kWriteFailed;
    }
  }
  return Reason::kNone;
}

}  // namespace

Reason write_frame(FrameWriter& writer, const Canvas& canvas, platform::FileHandle bmp_file) {
  Reason reason = obtain_block(writer, canvas);
  if (reason != Reason::kNone) return reason;
  writer.kind = classify_frame(*writer.colours, canvas);
  reason = write_frame_headers(writer, canvas, bmp_file);
  if (reason == Reason::kNone) reason = write_rows(writer, canvas, bmp_file);
  return reason;
}

void close_frame_writer(FrameWriter& writer) {
  platform::release(writer.colours);
  writer = FrameWriter{};
}

}  // namespace brevlo
