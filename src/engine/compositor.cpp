#include "engine/compositor.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace brevlo {

namespace {

constexpr std::uint8_t kDisposeToBackground = 2;
constexpr std::uint8_t kDisposeToPrevious = 3;

Disposal disposal_for(std::uint8_t method) {
  switch (method) {
    case kDisposeToBackground:
      return Disposal::kRestoreBackground;
    case kDisposeToPrevious:
      return Disposal::kRestorePrevious;
    default:
      return Disposal::kKeep;  // 0, 1, and the undefined 4 to 7
  }
}

std::uint64_t pixel_count(const Canvas& canvas) {
  return std::uint64_t{canvas.width} * canvas.height;
}

bool is_empty(const CanvasRect& rect) {
  return rect.left == rect.right || rect.top == rect.bottom;
}

template <typename Pixel>
Pixel* obtain_pixels(std::uint64_t count) {
  return static_cast<Pixel*>(
      platform::obtain(static_cast<std::size_t>(count * sizeof(Pixel)), false));
}

// Entry index of a file's table as 0x00RRGGBB.
std::uint32_t colour_at(const GifColourTable& table, std::uint32_t index) {
  const std::uint8_t* rgb = table.rgb + std::size_t{3} * index;
  return (std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2];
}

// The global table's colours, and the BMP palette they make; both black past
// the table's size.
void take_global_table(Canvas& canvas, const GifColourTable& table) {
  canvas.has_global_table = table.entries != 0;
  for (std::uint32_t i = 0; i < table.entries && i < kPaletteEntries; ++i)
    canvas.global_colours[i] = colour_at(table, i);
  canvas.global_palette = palette_from(table.rgb, table.entries);
}

// What each of the image's indices draws on a wide canvas: a colour of its
// local table, a marked global index, or black past the table (or for a file
// with no table at all).
void take_image_table(Canvas& canvas, const GifColourTable& local) {
  std::array<Cell, kPaletteEntries>& cells = canvas.image.cell_of_index;
  if (local.entries != 0) {
    for (std::uint32_t i = 0; i < kPaletteEntries; ++i)
      cells[i] = i < local.entries ? colour_at(local, i) : 0;
  } else if (canvas.has_global_table) {
    for (std::uint32_t i = 0; i < kPaletteEntries; ++i) cells[i] = kGlobalCell | i;
  } else {
    cells.fill(0);
  }
}

CanvasRect clip_to_canvas(const Canvas& canvas, const ImagePlacement& image) {
  CanvasRect clip;
  clip.left = std::min<std::uint32_t>(image.left, canvas.width);
  clip.top = std::min<std::uint32_t>(image.top, canvas.height);
  clip.right = std::min<std::uint32_t>(std::uint32_t{image.left} + image.width, canvas.width);
  clip.bottom = std::min<std::uint32_t>(std::uint32_t{image.top} + image.height, canvas.height);
  return clip;
}

template <typename Pixel>
void fill_rect(Pixel* pixels, std::uint32_t canvas_width, const CanvasRect& rect, Pixel value) {
  for (std::uint32_t y = rect.top; y < rect.bottom; ++y)
    std::fill_n(pixels + std::uint64_t{y} * canvas_width + rect.left, rect.right - rect.left,
                value);
}

// Copies the rectangle between the canvas and the saved block, where its rows
// lie back to back; to_saved says which way.
template <typename Pixel>
void copy_rect(Pixel* pixels, std::uint32_t canvas_width, const CanvasRect& rect, Pixel* saved,
               bool to_saved) {
  const std::uint32_t width = rect.right - rect.left;
  for (std::uint32_t y = rect.top; y < rect.bottom; ++y) {
    Pixel* on_canvas = pixels + std::uint64_t{y} * canvas_width + rect.left;
    Pixel* in_saved = saved + std::uint64_t{y - rect.top} * width;
    if (to_saved)
      std::memcpy(in_saved, on_canvas, width * sizeof(Pixel));
    else
      std::memcpy(on_canvas, in_saved, width * sizeof(Pixel));
  }
}

// Applies the shown image's disposal to its rectangle.
void dispose(Canvas& canvas) {
  DrawnImage& image = canvas.image;
  image.shown = false;
  if (is_empty(image.clip)) return;
  switch (image.disposal) {
    case Disposal::kKeep:
      return;
    case Disposal::kRestoreBackground:
      if (canvas.indices != nullptr)
        fill_rect(canvas.indices, canvas.width, image.clip, canvas.background_index);
      else
        fill_rect(canvas.cells, canvas.width, image.clip, canvas.background_cell);
      return;
    case Disposal::kRestorePrevious:
      if (canvas.indices != nullptr)
        copy_rect(canvas.indices, canvas.width, image.clip, canvas.saved_indices, false);
      else
        copy_rect(canvas.cells, canvas.width, image.clip, canvas.saved_cells, false);
      return;
  }
}

// Turns every index into a marked cell on a canvas of four bytes a pixel. A
// rectangle saved at one byte a pixel has been restored by now; the next is
// saved at four.
Reason widen(Canvas& canvas) {
  const std::uint64_t count = pixel_count(canvas);
  Cell* cells = obtain_pixels<Cell>(count);
  if (cells == nullptr) return Reason::kNoMemory;
  for (std::uint64_t i = 0; i < count; ++i) cells[i] = kGlobalCell | canvas.indices[i];
  platform::release(canvas.indices);
  platform::release(canvas.saved_indices);
  canvas.indices = nullptr;
  canvas.saved_indices = nullptr;
  canvas.cells = cells;
  return Reason::kNone;
}

// Saves what the image's rectangle holds before it is drawn, into a block of
// the screen's size obtained the first time.
Reason save_rect(Canvas& canvas) {
  const CanvasRect& clip = canvas.image.clip;
  if (canvas.indices != nullptr) {
    if (canvas.saved_indices == nullptr)
      canvas.saved_indices = obtain_pixels<std::uint8_t>(pixel_count(canvas));
    if (canvas.saved_indices == nullptr) return Reason::kNoMemory;
    copy_rect(canvas.indices, canvas.width, clip, canvas.saved_indices, true);
    return Reason::kNone;
  }
  if (canvas.saved_cells == nullptr) canvas.saved_cells = obtain_pixels<Cell>(pixel_count(canvas));
  if (canvas.saved_cells == nullptr) return Reason::kNoMemory;
  copy_rect(canvas.cells, canvas.width, clip, canvas.saved_cells, true);
  return Reason::kNone;
}

void draw_indices(std::uint8_t* to, const std::uint8_t* from, std::uint32_t count,
                  const DrawnImage& image) {
  if (!image.has_transparency) {
    std::memcpy(to, from, count);
    return;
  }
  // A select, not a branch: the processor never mispredicts it, and the loop
  // vectorises.
  const std::uint8_t transparent = image.transparent_index;
  for (std::uint32_t i = 0; i < count; ++i) to[i] = from[i] == transparent ? to[i] : from[i];
}

void draw_cells(Cell* to, const std::uint8_t* from, std::uint32_t count, const DrawnImage& image) {
  const std::array<Cell, kPaletteEntries>& cell_of = image.cell_of_index;
  if (!image.has_transparency) {
    for (std::uint32_t i = 0; i < count; ++i) to[i] = cell_of[from[i]];
    return;
  }
  const std::uint8_t transparent = image.transparent_index;
  for (std::uint32_t i = 0; i < count; ++i) {
    const Cell drawn = cell_of[from[i]];
    to[i] = from[i] == transparent ? to[i] : drawn;
  }
}

}  // namespace

Reason open_canvas(Canvas& canvas, const ScreenSetup& screen, const ImagePlacement& first) {
  canvas = Canvas{};
  const bool screen_sized = screen.width != 0 && screen.height != 0;
  canvas.width = screen_sized ? screen.width : first.width;
  canvas.height = screen_sized ? screen.height : first.height;
  if (canvas.width == 0 || canvas.height == 0) return Reason::kEmptyImage;
  if (pixel_count(canvas) > kMaxCanvasPixels) return Reason::kNoMemory;
  take_global_table(canvas, screen.global);
  canvas.background_index = screen.background_index;
  if (canvas.has_global_table) {
    canvas.background_cell = kGlobalCell | screen.background_index;
    canvas.indices = obtain_pixels<std::uint8_t>(pixel_count(canvas));
    if (canvas.indices == nullptr) return Reason::kNoMemory;
    std::memset(canvas.indices, canvas.background_index, pixel_count(canvas));
    return Reason::kNone;
  }
  canvas.background_cell = 0;  // black
  canvas.cells = obtain_pixels<Cell>(pixel_count(canvas));
  if (canvas.cells == nullptr) return Reason::kNoMemory;
  std::fill_n(canvas.cells, pixel_count(canvas), canvas.background_cell);
  return Reason::kNone;
}

Reason start_image(Canvas& canvas, const ImagePlacement& placement) {
  if (canvas.image.shown) dispose(canvas);
  DrawnImage& image = canvas.image;
  image.left = placement.left;
  image.top = placement.top;
  image.height = placement.height;
  image.clip = clip_to_canvas(canvas, placement);
  image.has_transparency = placement.has_transparency;
  image.transparent_index = placement.transparent_index;
  image.disposal = disposal_for(placement.disposal_method);
  if (is_empty(image.clip)) return Reason::kNone;  // draws nothing, saves nothing
  if (placement.local.entries != 0 && canvas.indices != nullptr) {
    const Reason reason = widen(canvas);
    if (reason != Reason::kNone) return reason;
  }
  if (canvas.cells != nullptr) take_image_table(canvas, placement.local);
  return image.disposal == Disposal::kRestorePrevious ? save_rect(canvas) : Reason::kNone;
}

void draw_row(Canvas& canvas, std::uint32_t row, const std::uint8_t* indices) {
  const DrawnImage& image = canvas.image;
  const CanvasRect& clip = image.clip;
  if (row >= image.height) return;
  const std::uint32_t y = image.top + row;
  if (y >= clip.bottom || clip.left == clip.right) return;
  const std::uint8_t* from = indices + (clip.left - image.left);
  const std::uint32_t count = clip.right - clip.left;
  const std::uint64_t at = std::uint64_t{y} * canvas.width + clip.left;
  if (canvas.indices != nullptr)
    draw_indices(canvas.indices + at, from, count, image);
  else
    draw_cells(canvas.cells + at, from, count, image);
}

void finish_image(Canvas& canvas) {
  canvas.image.shown = true;
}

void close_canvas(Canvas& canvas) {
  platform::release(canvas.indices);
  platform::release(canvas.cells);
  platform::release(canvas.saved_indices);
  platform::release(canvas.saved_cells);
  canvas = Canvas{};
}

}  // namespace brevlo
