// The frames' walk (GIF file structure in gif_blocks.h): every image in turn,
// with the graphic control extension read before it, is decoded a run of rows
// at a time into a block of decoded rows, and each row the data finished is
// drawn on the canvas (compositor.h), where it belongs: an interlaced image's
// rows in the order of its passes. A row the data left unfinished is not
// drawn, so what lies below shows through, as it does for rows never reached.
// The decoder knows nothing of the canvas, and the still image's way through
// the engine is untouched.
#include <algorithm>
#include <array>

#include "engine/frames.h"
#include "engine/interlace.h"

namespace brevlo {

namespace {

constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::uint8_t kGraphicControlSize = 4;  // the first sub-block's bytes read
constexpr std::uint8_t kTransparencyFlag = 0x01;
constexpr int kDisposalShift = 2;
constexpr std::uint8_t kDisposalBits = 0x07;

// Reads an extension, its introducer read. A graphic control extension's first
// sub-block, when it holds its four bytes, is what the next image is drawn
// with; one shorter says nothing beyond the defaults. Other extensions, and
// what follows that sub-block, are skipped.
void read_extension(FrameSequence& frames) {
  InputReader& reader = frames.reader;
  if (read_byte(reader) != kGraphicControlLabel) {
    skip_sub_blocks(reader);
    return;
  }
  const std::uint8_t length = read_byte(reader);
  if (length == 0) return;  // no sub-block at all: the extension ends here
  std::array<std::uint8_t, kMaxSubBlock> block{};
  read_block(reader, block.data(), length);
  GraphicControl& control = frames.control = GraphicControl{};
  if (length >= kGraphicControlSize) {
    control.disposal_method = (block[0] >> kDisposalShift) & kDisposalBits;
    control.has_transparency = (block[0] & kTransparencyFlag) != 0;
    control.delay = static_cast<std::uint16_t>(block[1] | (block[2] << 8));
    control.transparent_index = block[3];
  }
  skip_sub_blocks(reader);
}

ScreenSetup screen_setup(const GifScreen& screen) {
  const auto entries = static_cast<std::uint16_t>(screen.table.size / 3);
  return {
      screen.width, screen.height, screen.background_index, {screen.table.bytes.data(), entries}};
}

ImagePlacement placement_of(const ImageHeader& image, const GraphicControl& control) {
  ImagePlacement placement;
  placement.left = image.left;
  placement.top = image.top;
  placement.width = image.width;
  placement.height = image.height;
  if (image.has_local_table) placement.local = {image.local_table.data(), image.local_entries};
  placement.has_transparency = control.has_transparency;
  placement.transparent_index = control.transparent_index;
  placement.disposal_method = control.disposal_method;
  return placement;
}

// Obtains the file's working memory when its first image is met: the canvas,
// sized by the screen or that image (a screen past the limit is refused
// before anything is obtained), the decoder and the block of decoded rows.
Reason obtain_working_memory(FrameSequence& frames, const ImagePlacement& first) {
  ConversionReport& report = frames.report;
  Canvas& canvas = frames.canvas;
  const Reason reason = open_canvas(canvas, screen_setup(frames.screen), first);
  report.screen_width = canvas.width;
  report.screen_height = canvas.height;
  if (reason == Reason::kNoMemory) {
    report.screen_too_large = std::uint64_t{canvas.width} * canvas.height > kMaxCanvasPixels;
    return report.screen_too_large ? reason : no_memory(report);
  }
  if (reason != Reason::kNone) return reason;
  frames.decoder = obtain_decoder();
  if (frames.decoder == nullptr) return no_memory(report);
  frames.rows = static_cast<std::uint8_t*>(platform::obtain(kDecodedRowsBytes, false));
  return frames.rows == nullptr ? no_memory(report) : Reason::kNone;
}

// Decodes the image's rows into the block of decoded rows, as many at a time
// as it holds, draws each finished one on the canvas, then decodes the codes
// past the last row. An image 0 pixels wide or high draws nothing, but its
// data is read and judged all the same.
Reason draw_image_rows(FrameSequence& frames, const ImageHeader& image) {
  LzwDecoder& decoder = *frames.decoder;
  start_image_data(decoder, frames.reader, image.code_size, image.width);
  const std::uint32_t width = image.width;
  const std::uint32_t height = width == 0 ? 0 : image.height;
  const std::uint32_t per_run = width == 0 ? 0 : kDecodedRowsBytes / width;
  std::uint32_t finished = 0;
  while (finished < height && data_end(decoder) == DataEnd::kNotYet) {
    const RowRun run{frames.rows, static_cast<std::ptrdiff_t>(width),
                     std::min(per_run, height - finished)};
    std::uint32_t filled = 0;
    const Reason reason = decode_rows(decoder, run, filled);
    if (reason != Reason::kNone) return reason;
    for (std::uint32_t i = 0; i < filled; ++i, ++finished) {
      const std::uint32_t row = image.interlaced ? interlaced_row(finished, height) : finished;
      draw_row(frames.canvas, row, frames.rows + std::size_t{i} * width);
    }
  }
  return end_image_data(decoder, finished == height, frames.options, frames.report);
}

// Reads the next image's header. The first is refused where the still
// image's conversion refuses it, in the same order, and its working memory
// is obtained before its code size is looked at.
Reason read_image(FrameSequence& frames, ImageHeader& image) {
  const bool first = frames.report.frames == 0;
  const GlobalTable& global = frames.screen.table;
  const Reason reason = first ? read_first_image_header(frames.reader, global, image, frames.report)
                              : read_image_header(frames.reader, image);
  if (reason != Reason::kNone) return reason;
  if (image.interlaced && !frames.options.interlaced) return Reason::kInterlaced;
  if (!first) return Reason::kNone;
  if (image.width == 0 || image.height == 0) return Reason::kEmptyImage;
  return obtain_working_memory(frames, placement_of(image, frames.control));
}

// The image at the reader, from its descriptor to the end of its data, drawn
// on the canvas: the canvas then holds its frame.
Reason compose_image(FrameSequence& frames) {
  ImageHeader image;
  Reason reason = read_image(frames, image);
  if (reason != Reason::kNone) return reason;
  reason = judge_code_size(frames.reader, image.code_size);
  if (reason != Reason::kNone) return reason;
  if (start_image(frames.canvas, placement_of(image, frames.control)) != Reason::kNone)
    return no_memory(frames.report);
  reason = draw_image_rows(frames, image);
  if (reason != Reason::kNone) return reason;
  finish_image(frames.canvas);
  frames.delay = frames.control.delay;
  frames.control = GraphicControl{};  // it applies to one image only
  ++frames.report.frames;
  frames.report.image_converted = true;
  return Reason::kNone;
}

// Walks the blocks up to the next image and composes it. Sets composed when
// a frame is; returns why the walk ended otherwise (kNone: the animation's
// end).
Reason walk_to_next_frame(FrameSequence& frames, bool& composed) {
  InputReader& reader = frames.reader;
  ConversionReport& report = frames.report;
  const GlobalTable& global = frames.screen.table;
  for (;;) {
    switch (read_byte(reader)) {
      case 0:
        return end_without_trailer(report.image_converted, frames.options, global);
      case kExtensionIntroducer:
        read_extension(frames);
        break;
      case kImageSeparator: {
        ++report.image_count;
        const Reason reason = compose_image(frames);
        if (reason != Reason::kNone) report.failed_frame = report.frames + 1;
        composed = reason == Reason::kNone;
        return reason;
      }
      case kTrailer:
        return end_at_trailer(report.image_converted, global);
      default:
        break;  // stray byte between blocks
    }
  }
}

}  // namespace

ConversionResult open_frames(FrameSequence& frames, platform::FileHandle gif_file,
                             const ConversionOptions& options) {
  close_frames(frames);
  frames.options = options;
  start_reading(frames.reader, gif_file);
  frames.report.reason = read_screen(frames.reader, options, frames.screen, frames.report);
  frames.ended = frames.report.reason != Reason::kNone;
  note_read_error(frames.reader, frames.report);
  return code_for(frames.report.reason);
}

bool next_frame(FrameSequence& frames) {
  if (frames.ended) return false;
  bool composed = false;
  frames.report.reason = walk_to_next_frame(frames, composed);
  frames.ended = !composed;
  note_read_error(frames.reader, frames.report);
  return composed;
}

ConversionResult write_current_frame(FrameSequence& frames, platform::FileHandle bmp_file) {
  ConversionReport& report = frames.report;
  const Reason reason = write_frame(frames.writer, frames.canvas, bmp_file);
  if (reason == Reason::kNone) return kSuccess;
  frames.ended = true;
  report.reason = reason;
  report.failed_frame = report.frames;
  if (reason == Reason::kNoMemory)
    no_memory(report);
  else
    report.system_error = frames.writer.system_error;
  return code_for(reason);
}

void close_frames(FrameSequence& frames) {
  close_canvas(frames.canvas);
  close_frame_writer(frames.writer);
  release_decoder(frames.decoder);
  platform::release(frames.rows);
  frames.decoder = nullptr;
  frames.rows = nullptr;
  frames.control = GraphicControl{};
  frames.ended = true;
  frames.delay = 0;
  frames.report = ConversionReport{};
}

}  // namespace brevlo
