// BREVLO32: the conversion entry. Owns both files for the length of one call and
// turns every outcome into a result code; no bytes it wrote outlive a failure.
#include <cstdint>

#include "brevlo.h"
#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo {

namespace {

bool is_empty(const char* path) {
  return path == nullptr || path[0] == '\0';
}

// Opens the GIF, which must be positionable: the parser rewinds it and jumps
// past its colour table. A pipe, FIFO or socket counts as not opened.
platform::FileHandle open_input(const char* path) {
  const platform::FileHandle file = platform::open_for_reading(path);
  if (file != platform::kNoFile && !platform::seek(file, 0)) {
    platform::close(file);
    return platform::kNoFile;
  }
  return file;
}

// Leaves no bytes of a failed conversion anywhere: the file is emptied through
// its handle first, so that another hard link to it keeps nothing, then closed
// and removed from the output path if that still leads to it.
void discard(platform::FileHandle bmp_file, const platform::FileIdentity& written,
             const char* bmp_path) {
  if (written.regular) platform::empty(bmp_file);
  platform::close(bmp_file);
  platform::remove_written(written, bmp_path);
}

// Discards an output whose handle is already gone: a new handle on the same
// file empties it before it is removed.
void discard_closed(const platform::FileIdentity& written, const char* bmp_path) {
  const platform::FileHandle again = platform::reopen_for_writing(bmp_path);
  if (again != platform::kNoFile && platform::same_file(platform::identify(again), written)) {
    discard(again, written, bmp_path);
    return;
  }
  if (again != platform::kNoFile) platform::close(again);
  platform::remove_written(written, bmp_path);
}

// Closes the BMP, keeping it only after a success. On network, FUSE or
// quota-limited file systems a write error may surface only at the close, and
// the output then goes like any failed one.
ConversionResult finish_output(platform::FileHandle bmp_file, const char* bmp_path,
                               ConversionResult result) {
  const platform::FileIdentity written = platform::identify(bmp_file);
  if (result != kSuccess) {
    discard(bmp_file, written, bmp_path);
    return result;
  }
  if (platform::close(bmp_file)) return kSuccess;
  if (written.regular) discard_closed(written, bmp_path);
  return kOpenFailed;
}

ConversionResult convert(const char* gif_path, const char* bmp_path) {
  if (is_empty(gif_path) || is_empty(bmp_path)) return kEmptyName;

  const platform::FileHandle gif_file = open_input(gif_path);
  // Creating the output would truncate the input when the output path leads
  // to the very file just opened (or, when it could not be opened, to the
  // file its path names).
  const platform::FileIdentity input = gif_file != platform::kNoFile
                                           ? platform::identify(gif_file)
                                           : platform::identify_path(gif_path);
  if (platform::same_file(input, platform::identify_path(bmp_path))) {
    if (gif_file != platform::kNoFile) platform::close(gif_file);
    return kOpenFailed;
  }
  // Both are attempted before either is examined: the output is created (and an
  // existing one truncated) even when the input cannot be opened.
  const platform::FileHandle bmp_file = platform::create_for_writing(bmp_path);
  if (bmp_file == platform::kNoFile) {
    if (gif_file != platform::kNoFile) platform::close(gif_file);
    return kOpenFailed;
  }

  ConversionResult result = kOpenFailed;
  // The writer places rows by position: an output that cannot be positioned
  // (a FIFO) cannot be written.
  if (gif_file != platform::kNoFile && platform::seek(bmp_file, 0)) {
    ConversionReport report;
    result = convert_gif(gif_file, bmp_file, kStrictOptions, report);
  }
  if (gif_file != platform::kNoFile) platform::close(gif_file);
  return finish_output(bmp_file, bmp_path, result);
}

}  // namespace

}  // namespace brevlo

extern "C" BREVLO_API int32_t BREVLO_CALL BREVLO32(const char* gifPath, const char* bmpPath) {
  return static_cast<int32_t>(brevlo::convert(gifPath, bmpPath));
}
