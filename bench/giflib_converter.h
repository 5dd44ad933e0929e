// The peer the converter is measured against: giflib decodes the first image
// and stdio writes the same 8-bit BMP the converter writes.
#pragma once

namespace brevlo::bench {

// Converts gif_path to bmp_path; true on success.
bool giflib_convert(const char* gif_path, const char* bmp_path);

}  // namespace brevlo::bench
