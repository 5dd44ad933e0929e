// Writes the BMP file header, info header and palette.
#pragma once

#include <cstdint>

#include "engine/bmp_layout.h"
#include "engine/conversion_result.h"
#include "platform/platform.h"

namespace brevlo {

// Writes the 14-byte file header, the 40-byte info header and the 1024-byte
// palette at the file's current position (offset 0 of the new file).
// Returns 0, or kOpenFailed when the write fails.
ConversionResult write_headers(platform::FileHandle bmp_file, std::uint32_t width,
                               std::uint32_t height, std::uint16_t depth, const Palette& palette);

}  // namespace brevlo
