// Writes a composed frame (the canvas as it stands after finish_image) as one
// BMP file, never dithered or quantised:
//
//   every pixel a global-table index  8-bit, the global table as palette (black
//                                     past it) and the indices as pixels: the
//                                     bytes a still image converts to
//   at most 256 distinct colours      8-bit, the frame's own colours as palette
//                                     in ascending order of (red, green, blue),
//                                     black past them
//   more                              24-bit (layout in bmp_layout.h)
//
// Rows go out in batches of about kRowBatchBytes with positioned writes, from
// one block obtained with the first frame and kept for the file's others.
#pragma once

#include <array>
#include <cstdint>

#include "engine/bmp_layout.h"
#include "engine/compositor.h"
#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo {

enum class FrameKind : std::uint8_t {
  kGlobalIndices,  // 8-bit, the global table's palette
  kOwnPalette,     // 8-bit, the frame's own sorted colours
  kTrueColour,     // 24-bit
};

// A frame's distinct colours are gathered in an open-addressed set of twice
// the palette's size, which a 257th colour never fills.
inline constexpr std::uint32_t kColourSlotBits = 9;
inline constexpr std::uint32_t kColourSlots = std::uint32_t{1} << kColourSlotBits;
static_assert(kColourSlots >= 2 * kPaletteEntries);

struct FrameWriter {
  std::uint8_t* batch = nullptr;  // rows on their way to the file
  std::uint64_t batch_bytes = 0;
  FrameKind kind = FrameKind::kGlobalIndices;  // of the last frame classified
  // kOwnPalette: the frame's colours 0x00RRGGBB, ascending, and where each
  // colour's slot is, its palette index.
  std::uint32_t colour_count = 0;
  std::array<std::uint32_t, kPaletteEntries> colours{};
  std::array<std::uint32_t, kColourSlots> slot_colour{};
  std::array<std::uint8_t, kColourSlots> slot_index{};
};

// Decides the kind of BMP the canvas's frame makes, and for kOwnPalette
// gathers its colours into writer. Costs at most one pass over the frame.
FrameKind classify_frame(FrameWriter& writer, const Canvas& canvas);

// Writes the canvas's frame, classified as above (writer.kind then says how),
// into bmp_file, open for writing, empty and positionable. Returns kNone;
// kNoMemory when the row batch cannot be had; kWriteFailed when a write fails
// or the BMP would pass the process's file-size limit (then before anything
// is written).
Reason write_frame(FrameWriter& writer, const Canvas& canvas, platform::FileHandle bmp_file);

// Releases the writer's memory; the record can then serve another file.
void close_frame_writer(FrameWriter& writer);

}  // namespace brevlo
