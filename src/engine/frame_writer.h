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
// Rows go out in batches of about kRowBatchBytes with positioned writes.
#pragma once

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

// The tables a frame's colours are gathered in (see frame_writer.cpp).
struct FrameColours;

struct FrameWriter {
  // One block, obtained with the first frame and kept for the file's others:
  // the colour tables, at its start, then the rows on their way to the file.
  FrameColours* colours = nullptr;
  std::uint8_t* batch = nullptr;
  std::uint64_t batch_bytes = 0;
  FrameKind kind = FrameKind::kGlobalIndices;  // of the last frame written
  // The system's error number (platform::last_error) of the write that
  // failed, taken straight after it; 0 while none has.
  int system_error = 0;
};

// Writes the canvas's frame, of the kind its pixels ask for (writer.kind then
// says which), into bmp_file, open for writing, empty and positionable. The
// kind costs at most one pass over the frame to tell an all-global frame, and
// one more to gather a frame's colours. Returns kNone;
// kNoMemory when the writer's block cannot be had (platform::last_error then
// says why); kWriteFailed when a write fails or the BMP would pass the
// process's file-size limit (then before anything is written), with the
// system's error number in writer.system_error.
Reason write_frame(FrameWriter& writer, const Canvas& canvas, platform::FileHandle bmp_file);

// Releases the writer's memory; the record can then serve another file.
void close_frame_writer(FrameWriter& writer);

}  // namespace brevlo
