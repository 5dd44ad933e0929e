// BREVLO32 and brevlo_convert: the conversion entry. Owns both files for the
// length of one call and turns every outcome into a result code; no bytes it
// wrote outlive a failure, and no file is judged by its name where an open
// handle can say which file it is.
#include <cstdint>

#include "brevlo.h"
#include "engine/conversion.h"
#include "platform/platform.h"

namespace brevlo {

namespace {

bool is_empty(const char* path) {
  return path == nullptr || path[0] == '\0';
}

// Rows are placed by position, and the engine's callers promise files that
// can be positioned: every regular file can; of the rest, a pipe, FIFO or
// socket never can.
bool positionable(platform::FileHandle file, const platform::FileIdentity& identity) {
  return platform::is_regular(identity) || platform::seek(file, 0);
}

// Opens the GIF and fills identity with the file's, or, when it cannot be
// opened, with what its path names. A pipe, FIFO or socket counts as not
// opened.
platform::FileHandle open_input(const char* path, platform::FileIdentity& identity) {
  const platform::FileHandle file = platform::open_for_reading(path, &identity);
  if (file == platform::kNoFile) {
    identity = platform::identify_path(path);
    return platform::kNoFile;
  }
  if (positionable(file, identity)) return file;
  platform::close(file);
  return platform::kNoFile;
}

// Leaves no bytes of a failed conversion anywhere: the file is emptied through
// its handle first, so that another hard link to it keeps nothing, then closed
// and its name removed if that name is the file itself, not a link to it.
void discard(platform::FileHandle bmp_file, const platform::FileIdentity& written,
             const char* bmp_path) {
  if (platform::is_regular(written)) platform::truncate(bmp_file);
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
ConversionResult finish_output(platform::FileHandle bmp_file, const platform::FileIdentity& written,
                               const char* bmp_path, ConversionResult result) {
  if (result != kSuccess) {
    discard(bmp_file, written, bmp_path);
    return result;
  }
  if (platform::close(bmp_file)) return kSuccess;
  if (platform::is_regular(written)) discard_closed(written, bmp_path);
  return kOpenFailed;
}

ConversionResult convert(const char* gif_path, const char* bmp_path,
                         const ConversionOptions& options) {
  if (is_empty(gif_path) || is_empty(bmp_path)) return kEmptyName;

  platform::FileIdentity input;
  const platform::FileHandle gif_file = open_input(gif_path, input);
  // The output is opened without truncating it and compared, as open, with the
  // input: a path that leads to the input, even one swapped for a link to it
  // an instant ago, is refused before a byte of it changes.
  const platform::FileHandle bmp_file = platform::open_for_writing(bmp_path);
  const platform::FileIdentity written =
      bmp_file != platform::kNoFile ? platform::identify(bmp_file) : platform::FileIdentity{};
  if (bmp_file == platform::kNoFile || platform::same_file(input, written)) {
    if (gif_file != platform::kNoFile) platform::close(gif_file);
    if (bmp_file != platform::kNoFile) platform::close(bmp_file);
    return kOpenFailed;
  }

  // Both were opened before either is examined: an existing output is emptied
  // (and later removed) even when the input cannot be opened.
  ConversionResult result = kOpenFailed;
  const bool emptied = written.size == 0 || platform::truncate(bmp_file);
  if (gif_file != platform::kNoFile && emptied && positionable(bmp_file, written)) {
    ConversionReport report;
    result = convert_gif(gif_file, bmp_file, options, report);
  }
  if (gif_file != platform::kNoFile) platform::close(gif_file);
  return finish_output(bmp_file, written, bmp_path, result);
}

}  // namespace

}  // namespace brevlo

extern "C" BREVLO_API int32_t BREVLO_CALL BREVLO32(const char* gifPath, const char* bmpPath) {
  return static_cast<int32_t>(brevlo::convert(gifPath, bmpPath, brevlo::kStrictOptions));
}

#if !defined(_WIN32)
extern "C" BREVLO_API int32_t brevlo_convert(const char* gif_path, const char* bmp_path,
                                             uint32_t flags) {
  const bool strict = (flags & BREVLO_STRICT) != 0;
  return static_cast<int32_t>(
      brevlo::convert(gif_path, bmp_path, strict ? brevlo::kStrictOptions : brevlo::kBroadOptions));
}
#endif
