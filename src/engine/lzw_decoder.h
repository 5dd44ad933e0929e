// Expands one GIF image's LZW code stream into the pixel rows of the BMP file.
#pragma once

#include <cstdint>

#include "engine/conversion.h"
#include "engine/input_reader.h"
#include "platform/platform.h"

namespace brevlo {

// What the decoder needs to know of the image it decodes.
struct ImageHeader {
  std::uint32_t width = 0;  // both nonzero
  std::uint32_t height = 0;
  bool interlaced = false;     // rows arrive in the four passes of interlace
  std::uint8_t code_size = 0;  // the LZW minimum code size, as the file gives it
};

// Decodes the data sub-blocks that follow the code-size byte, read through
// reader, and writes each finished row to its bottom-up place in bmp_file.
// Returns kNone when the end code is followed by the 0 terminator, or, with
// options.end_code_optional, when the terminator ends the data of a complete
// image without an end code; kNoMemory when the working memory cannot be had;
// kBadCodeSize for a code size outside 2..8; kDataCutShort when the file ends
// inside the data; kCorruptData for any other fault in the stream;
// kWriteFailed when a row cannot be written.
Reason decode_image(InputReader& reader, const ImageHeader& image, const ConversionOptions& options,
                    platform::FileHandle bmp_file);

}  // namespace brevlo
