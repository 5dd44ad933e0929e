// Walks a GIF file block by block and has its first image written as a BMP.
#pragma once

#include "engine/conversion.h"
#include "engine/conversion_state.h"

namespace brevlo {

// Converts the GIF open as gif_file into the freshly created bmp_file. Returns
// 0 at the trailer after a converted image; kUnsupported for a global colour
// table that is absent or not 256 entries, or an interlaced image; kEarlyEnd
// when the file ends before the trailer (also inside the header, the colour
// tables or the image descriptor); kBadGif for a file with no image or an
// empty one; otherwise whatever decoding the image returns.
// Options widen what converts: a global table of any size, or none when the
// first image has its own (a file with no table at all stays kUnsupported);
// interlaced images; a file that ends, or holds a 0 byte, where a block would
// start after the first image. report says why a conversion failed, and what
// the walk learnt of the file.
ConversionResult parse(ConversionState& state, platform::FileHandle gif_file,
                       platform::FileHandle bmp_file, const ConversionOptions& options,
                       ConversionReport& report);

}  // namespace brevlo
