// The engine's entry: one conversion of a GIF file into an empty BMP file,
// under a small record of options, with a report of what a person needs to hear
// about the file beside the result code.
#pragma once

#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo {

// Converts the GIF read from gif_file, front to back and never positioned (a
// stream will do), into bmp_file, open for writing, empty and positionable.
// Tests the signature, then walks the blocks up to the trailer and has the
// first image written. Returns 0 or the result code of the reason it stopped
// for, which report.reason holds:
//   kBadGif       no GIF signature, no image, an empty image, a bad code size,
//                 corrupt image data, or the file ending inside it;
//   kUnsupported  (strict) a global colour table absent or not 256 entries, or
//                 an interlaced image; (broad) no colour table at all;
//   kEarlyEnd     the file ends before its trailer (also inside the header, the
//                 colour tables or the image descriptor); under the broad
//                 options not after the first image was converted;
//   kNoMemory, kOpenFailed  the decoder's memory, or a write of the BMP.
// Rows already written stay in bmp_file after a failure: removing it is the
// caller's.
ConversionResult convert_gif(platform::FileHandle gif_file, platform::FileHandle bmp_file,
                             const ConversionOptions& options, ConversionReport& report);

}  // namespace brevlo
