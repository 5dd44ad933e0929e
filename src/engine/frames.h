// Every frame of an animation, composed as viewers show it (compositor.h) and
// written one at a time, each into a file the caller opened: the engine's
// entry for frames, beside convert_gif for the still image.
//
// Use: open_frames, then while next_frame composes one, write_current_frame into that
// frame's file; close_frames on every path. The GIF is read once, front to
// back, as for the still image; a frame is composed only when asked for, so a
// caller writes each frame as soon as it is complete.
//
// Damage: a file cut short, or with corrupt data, inside frame k > 1 ends the
// walk with frames 1 to k - 1 composed, each whole, and the reason (report)
// says why; failed_frame says k. A file that lacks only its trailer ends
// after its last whole frame, with no damage where the options allow it
// (trailer_optional), else with kEndedEarly. Anything wrong up to the end of
// the first image fails for the reason the still image's conversion gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/compositor.h"
#include "engine/conversion.h"
#include "engine/frame_writer.h"
#include "engine/gif_blocks.h"
#include "engine/input_reader.h"
#include "engine/lzw_decoder.h"
#include "platform/platform.h"

namespace brevlo {

// An image's graphic control extension, for the next image only.
struct GraphicControl {
  std::uint8_t disposal_method = 0;  // the 3-bit field, as given
  bool has_transparency = false;
  std::uint8_t transparent_index = 0;
  std::uint16_t delay = 0;  // hundredths of a second
};

// Where the walk through the animation stands, and the working memory it
// holds: the canvas and its saved rectangle, the decoder, the rows it decodes
// into, and the frame writer's block, each obtained once per file.
struct FrameSequence {
  InputReader reader;
  ConversionOptions options;
  GifScreen screen;
  GraphicControl control;  // read since the last image
  Canvas canvas;
  FrameWriter writer;
  LzwDecoder* decoder = nullptr;
  std::uint8_t* rows = nullptr;  // kDecodedRowsBytes: decoded rows before they are drawn
  bool ended = false;            // no more frames: the end, or a failure
  std::uint16_t delay = 0;       // of the frame composed last, in hundredths of a second
  ConversionReport report;       // report.frames: the frames composed so far
};

// How the files of a GIF's frames are named, frame by frame, for the library
// and the command alike: the prefix, then the frame's number (1 = the first)
// of three digits at least, more only past 999: "%s-%03u.bmp".
inline constexpr const char* kFrameNameFormat = "%s-%03u.bmp";

// The most bytes a frame's name adds to its prefix, its NUL included.
inline constexpr std::size_t kFrameNameExtra = sizeof "-4294967295.bmp";

// Decoded rows wait in a block of this size before they are drawn: as many
// rows of the image as it holds, at least one (an image is at most 65535
// pixels wide).
inline constexpr std::uint32_t kDecodedRowsBytes = 64 * 1024;

// Starts reading the GIF from gif_file, front to back and never positioned,
// under options, and reads its header and global table. Returns 0, or the
// result code of the reason it failed for (report.reason), as convert_gif
// would.
ConversionResult open_frames(FrameSequence& frames, platform::FileHandle gif_file,
                             const ConversionOptions& options);

// Walks on to the next image and composes its frame. True when a frame is
// composed (number report.frames, delay frames.delay, the canvas's size, which
// report.screen_width and screen_height give too); false when
// the walk has ended: at the end of the animation with report.reason kNone,
// or for report.reason, inside frame report.failed_frame or, for a file
// without its trailer under the fixed contract, after the last frame.
bool next_frame(FrameSequence& frames);

// Writes the frame composed last into bmp_file, open for writing, empty and
// positionable (see frame_writer.h). Returns 0 or the result code of the
// reason it failed for (kOpenFailed, kNoMemory), which ends the walk, with
// report.failed_frame the frame and report.system_error the system's reason.
ConversionResult write_current_frame(FrameSequence& frames, platform::FileHandle bmp_file);

// Releases everything the walk holds; the record can then be opened again.
void close_frames(FrameSequence& frames);

}  // namespace brevlo
