// BREVLO32, brevlo_convert and brevlo_convert_frames: the conversion entry.
// Owns the files for the length of one call and turns every outcome into a
// result code; no bytes it wrote outlive a failure, and no file is judged by
// its name where an open handle can say which file it is.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "brevlo.h"
#include "engine/conversion.h"
#include "engine/frames.h"
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

// An output as opened: its handle and which file it is.
struct Output {
  platform::FileHandle file = platform::kNoFile;
  platform::FileIdentity written;
};

// Opens the output without truncating it and compares it, as open, with the
// input: a path that leads to the input, even one swapped for a link to it an
// instant ago, is refused before a byte of it changes. False when it cannot
// be opened or is the input; nothing is left open then.
bool open_output(const char* bmp_path, const platform::FileIdentity& input, Output& output) {
  output.file = platform::open_for_writing(bmp_path);
  if (output.file == platform::kNoFile) return false;
  output.written = platform::identify(output.file);
  if (!platform::same_file(input, output.written)) return true;
  platform::close(output.file);
  output.file = platform::kNoFile;
  return false;
}

// Empties an output that holds anything. False when that fails.
bool empty_output(const Output& output) {
  return output.written.size == 0 || platform::truncate(output.file);
}

ConversionResult convert(const char* gif_path, const char* bmp_path,
                         const ConversionOptions& options) {
  if (is_empty(gif_path) || is_empty(bmp_path)) return kEmptyName;

  platform::FileIdentity input;
  const platform::FileHandle gif_file = open_input(gif_path, input);
  Output output;
  if (!open_output(bmp_path, input, output)) {
    if (gif_file != platform::kNoFile) platform::close(gif_file);
    return kOpenFailed;
  }

  // Both were opened before either is examined: an existing output is emptied
  // (and later removed) even when the input cannot be opened.
  ConversionResult result = kOpenFailed;
  const bool emptied = empty_output(output);
  if (gif_file != platform::kNoFile && emptied && positionable(output.file, output.written)) {
    ConversionReport report;
    result = convert_gif(gif_file, output.file, options, report);
  }
  if (gif_file != platform::kNoFile) platform::close(gif_file);
  return finish_output(output.file, output.written, bmp_path, result);
}

}  // namespace

}  // namespace brevlo

extern "C" BREVLO_API int32_t BREVLO_CALL BREVLO32(const char* gifPath, const char* bmpPath) {
  return static_cast<int32_t>(brevlo::convert(gifPath, bmpPath, brevlo::kStrictOptions));
}

#if !defined(_WIN32)
namespace brevlo {

namespace {

// The frame composed last, written into its own file as BREVLO32 writes its
// output: opened without truncating it, refused when it is the input,
// emptied, written, and after a failure emptied and removed when the name is
// that file. A frame file is opened only once its frame is complete.
ConversionResult write_frame_file(FrameSequence& frames, const char* bmp_path,
                                  const platform::FileIdentity& input) {
  Output output;
  if (!open_output(bmp_path, input, output)) return kOpenFailed;
  ConversionResult result = kOpenFailed;
  if (empty_output(output) && positionable(output.file, output.written))
    result = write_current_frame(frames, output.file);
  return finish_output(output.file, output.written, bmp_path, result);
}

// Composes every frame and writes each into its file as soon as it is
// complete, counting the files written. The walk's failure, after the frames
// before it, is the result.
ConversionResult write_frames(FrameSequence& frames, const char* prefix, char* name,
                              std::size_t name_size, const platform::FileIdentity& input,
                              std::uint32_t& written) {
  while (next_frame(frames)) {
    std::snprintf(name, name_size, kFrameNameFormat, prefix, frames.report.frames);
    const ConversionResult result = write_frame_file(frames, name, input);
    if (result != kSuccess) return result;
    ++written;
  }
  return code_for(frames.report.reason);
}

ConversionResult convert_frames(const char* gif_path, const char* prefix,
                                const ConversionOptions& options, std::uint32_t& written) {
  written = 0;
  if (is_empty(gif_path) || is_empty(prefix)) return kEmptyName;
  platform::FileIdentity input;
  const platform::FileHandle gif_file = open_input(gif_path, input);
  if (gif_file == platform::kNoFile) return kOpenFailed;
  const std::size_t name_size = std::strlen(prefix) + kFrameNameExtra;
  auto* name = static_cast<char*>(platform::obtain(name_size, false));
  ConversionResult result = name == nullptr ? kNoMemory : kSuccess;
  FrameSequence frames;
  if (result == kSuccess) result = open_frames(frames, gif_file, options);
  if (result == kSuccess) result = write_frames(frames, prefix, name, name_size, input, written);
  close_frames(frames);
  platform::release(name);
  platform::close(gif_file);
  return result;
}

const ConversionOptions& options_for(std::uint32_t flags) {
  return (flags & BREVLO_STRICT) != 0 ? kStrictOptions : kBroadOptions;
}

}  // namespace

}  // namespace brevlo

extern "C" BREVLO_API int32_t brevlo_convert(const char* gif_path, const char* bmp_path,
                                             uint32_t flags) {
  return static_cast<int32_t>(brevlo::convert(gif_path, bmp_path, brevlo::options_for(flags)));
}

extern "C" BREVLO_API int32_t brevlo_convert_frames(const char* gif_path, const char* bmp_prefix,
                                                    uint32_t flags, uint32_t* frames_written) {
  std::uint32_t written = 0;
  const brevlo::ConversionResult result =
      brevlo::convert_frames(gif_path, bmp_prefix, brevlo::options_for(flags), written);
  if (frames_written != nullptr) *frames_written = written;
  return static_cast<int32_t>(result);
}
#endif
