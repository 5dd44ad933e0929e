// Composes the frames of an animation on a canvas the size of the logical
// screen, as viewers show them.
//
// The canvas starts as the background. Each image is drawn at its offset,
// clipped to the screen; pixels equal to its transparent index leave what is
// below, and so do rows its data never reaches. Once its frame is shown, its
// disposal method decides what the next image is drawn over:
//
//   method  the image's rectangle (clipped) afterwards
//   0, 1    stays as drawn (0: no disposal asked; 1: keep)
//   2       the background
//   3       what was there before the image was drawn (the background for the
//           first image)
//   4..7    as 0
//
// The background is the global colour table's colour at the screen's
// background index, or black when the file has no global table. An index past
// the size of the table in use is black, as the BMP palette is black past it.
//
// While every pixel is a global-table index the canvas holds one byte a pixel,
// the index itself, so such a frame is written exactly as a still image is.
// From the first image drawn with a local table (or from the start when the
// file has no global table) it holds four bytes a pixel, a Cell: a global
// index with the kGlobalCell mark, or a colour 0x00RRGGBB. It is widened once
// and never narrowed.
//
// Use: open_canvas, then for each image start_image, draw_row for every row
// the decoder finishes, finish_image (the canvas now holds the frame); finally
// close_canvas, on every path. Memory is obtained when the canvas opens, when
// it widens, and the first time a rectangle is saved (again after widening):
// never per image or row.
#pragma once

#include <array>
#include <cstdint>

#include "engine/bmp_layout.h"
#include "engine/conversion.h"

namespace brevlo {

// The largest screen: 2^28 pixels, a canvas of 1 GiB at four bytes a pixel.
// A larger one is refused before any memory is obtained or anything written.
inline constexpr std::uint64_t kMaxCanvasPixels = std::uint64_t{1} << 28;

// A wide canvas's pixel: a colour 0x00RRGGBB, or kGlobalCell | a global index.
using Cell = std::uint32_t;
inline constexpr Cell kGlobalCell = 0x01000000;

// A colour table as the file holds it: red, green, blue triples. The
// compositor reads it only in the call it is given to.
struct GifColourTable {
  const std::uint8_t* rgb = nullptr;  // 3 * entries bytes
  std::uint16_t entries = 0;          // 0: no table
};

// What the logical screen descriptor says.
struct ScreenSetup {
  std::uint16_t width = 0;  // 0 in either: the first image's width and height
  std::uint16_t height = 0;
  std::uint8_t background_index = 0;
  GifColourTable global;
};

// One image: its descriptor, its local table and the graphic control
// extension before it (an image without one is opaque, method 0).
struct ImagePlacement {
  std::uint16_t left = 0;
  std::uint16_t top = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  GifColourTable local;  // no entries: the image uses the global table
  bool has_transparency = false;
  std::uint8_t transparent_index = 0;
  std::uint8_t disposal_method = 0;  // the extension's 3-bit field, as given
};

enum class Disposal : std::uint8_t { kKeep, kRestoreBackground, kRestorePrevious };

// Columns [left, right) and rows [top, bottom) of the canvas.
struct CanvasRect {
  std::uint32_t left = 0;
  std::uint32_t top = 0;
  std::uint32_t right = 0;
  std::uint32_t bottom = 0;
};

// The image being drawn, or the last one drawn until the next starts.
struct DrawnImage {
  std::uint32_t left = 0;  // its offset on the canvas
  std::uint32_t top = 0;
  std::uint32_t height = 0;
  CanvasRect clip;  // the part of it on the canvas; may be empty
  bool has_transparency = false;
  std::uint8_t transparent_index = 0;
  Disposal disposal = Disposal::kKeep;
  bool shown = false;  // finished: its disposal is due before the next image
  std::array<Cell, kPaletteEntries> cell_of_index{};  // wide canvas: what each index draws
};

struct Canvas {
  std::uint32_t width = 0;  // the logical screen
  std::uint32_t height = 0;
  // One of the two while open: narrow, a global index a pixel; or wide.
  std::uint8_t* indices = nullptr;
  Cell* cells = nullptr;
  // The rectangle saved for disposal 3, in the canvas's width per pixel;
  // obtained at the screen's size when first needed.
  std::uint8_t* saved_indices = nullptr;
  Cell* saved_cells = nullptr;
  std::uint8_t background_index = 0;
  Cell background_cell = 0;  // the background on a wide canvas
  bool has_global_table = false;
  std::array<std::uint32_t, kPaletteEntries> global_colours{};  // 0x00RRGGBB, black past the table
  Palette global_palette{};  // the BMP palette of an all-global frame
  DrawnImage image;
};

// The colour 0x00RRGGBB of a wide canvas's cell.
inline std::uint32_t colour_of(const Canvas& canvas, Cell cell) {
  return cell >= kGlobalCell ? canvas.global_colours[cell & 0xFF] : cell;
}

// Sizes the canvas by the screen (or by the first image, when the screen's
// width or height is 0), obtains it and fills it with the background. Returns
// kNone; kNoMemory for a screen of more than kMaxCanvasPixels (before
// obtaining anything) or when the memory cannot be had; kEmptyImage when the
// size found is 0 wide or high.
Reason open_canvas(Canvas& canvas, const ScreenSetup& screen, const ImagePlacement& first);

// Readies the canvas for the next image: applies the previous image's
// disposal, widens the canvas for an image with a local table, saves the
// rectangle the image will cover when its disposal asks for it, and takes its
// colour table. Returns kNone, or kNoMemory when memory cannot be had.
Reason start_image(Canvas& canvas, const ImagePlacement& placement);

// Draws the image's row (0 = top; for an interlaced image, see
// interlaced_row), whose width colour indices are at `indices`, clipped to the
// canvas. A row past the image's height is ignored.
void draw_row(Canvas& canvas, std::uint32_t row, const std::uint8_t* indices);

// Ends the image begun by start_image: the canvas holds its frame until the
// next start_image applies its disposal.
void finish_image(Canvas& canvas);

// Releases the canvas's memory; the record can then be opened again.
void close_canvas(Canvas& canvas);

}  // namespace brevlo
