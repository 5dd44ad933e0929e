// BREVLO32: the conversion entry. Owns both files for the length of one call and
// turns every outcome into a result code; the output never outlives a failure.
#include <cstdint>

#include "brevlo.h"
#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo {

namespace {

bool is_empty(const char* path) {
  return path == nullptr || path[0] == '\0';
}

ConversionResult convert(const char* gif_path, const char* bmp_path) {
  if (is_empty(gif_path) || is_empty(bmp_path)) return kEmptyName;

  platform::FileHandle gif_file = platform::open_for_reading(gif_path);
  // Creating the output would truncate the input when both name one file.
  if (platform::names_same_file(gif_path, bmp_path)) {
    if (gif_file != platform::kNoFile) platform::close(gif_file);
    return kOpenFailed;
  }
  // Both are attempted before either is examined: the output is created (and an
  // existing one truncated) even when the input cannot be opened.
  platform::FileHandle bmp_file = platform::create_for_writing(bmp_path);
  if (gif_file == platform::kNoFile || bmp_file == platform::kNoFile) {
    if (gif_file != platform::kNoFile) platform::close(gif_file);
    if (bmp_file != platform::kNoFile) {
      platform::close(bmp_file);
      platform::delete_regular_file(bmp_path);
    }
    return kOpenFailed;
  }

  ConversionReport report;
  ConversionResult result = convert_gif(gif_file, bmp_file, kStrictOptions, report);
  platform::close(gif_file);
  platform::close(bmp_file);
  if (result != kSuccess) platform::delete_regular_file(bmp_path);
  return result;
}

}  // namespace

}  // namespace brevlo

extern "C" BREVLO_API int32_t BREVLO_CALL BREVLO32(const char* gifPath, const char* bmpPath) {
  return static_cast<int32_t>(brevlo::convert(gifPath, bmpPath));
}
