// Expands one GIF image's LZW code stream into the pixel rows of the BMP file.
#pragma once

#include <cstdint>

#include "engine/conversion_result.h"
#include "engine/conversion_state.h"

namespace brevlo {

// True for an LZW minimum code size the decoder takes: 2 to 8.
bool valid_code_size(std::uint8_t code_size);

// Decodes the data sub-blocks that follow the code-size byte, reading through
// state.reader and writing each finished row to its bottom-up place in bmp_file
// (image size from state.image_width and state.image_height, both nonzero;
// rows in the four passes of interlace when state.interlaced).
// Returns 0 when the end code is followed by the 0 terminator; kNoMemory when
// the working memory cannot be had; kBadGif for a code size outside 2..8 or a
// corrupt stream; kOpenFailed when a row cannot be written.
ConversionResult decode_image(ConversionState& state, std::uint8_t code_size,
                              platform::FileHandle bmp_file);

}  // namespace brevlo
