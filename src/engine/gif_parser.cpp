// The still image's conversion (GIF file structure in gif_blocks.h).
//
// The parser drives the conversion: it walks the blocks, and for the first
// image has the BMP writer write the headers, then asks the LZW decoder for
// the image's rows a run at a time, each row into the slot the writer's row
// batch gives it, and hands each run's finished rows back to the batch. The
// decoder knows nothing of where its rows go. Later images are read and
// dropped.
#include "engine/bmp_layout.h"
#include "engine/bmp_writer.h"
#include "engine/conversion.h"
#include "engine/gif_blocks.h"
#include "engine/input_reader.h"
#include "engine/lzw_decoder.h"

namespace brevlo {

namespace {

// An image after the first: its descriptor, local table, code size and data
// are read and dropped.
void skip_image(InputReader& reader) {
  ImageHeader image;
  read_image_header(reader, image);
  skip_sub_blocks(reader);
}

// The first image's header, as the report gives it, and its palette: its own
// colour table if it has one, else the global one.
Reason read_first_image(InputReader& reader, const GlobalTable& global, ImageHeader& image,
                        Palette& palette, ConversionReport& report) {
  const Reason reason = read_first_image_header(reader, global, image, report);
  if (reason != Reason::kNone) return reason;
  palette = image.has_local_table
                ? palette_from(image.local_table.data(), image.local_entries)
                : palette_from(global.bytes.data(), static_cast<std::uint32_t>(global.size / 3));
  return Reason::kNone;
}

// Decodes the image's rows, in the order the file stores them, into the slots
// the batch gives them, a run of rows up to each write the batch makes, then
// the codes past the last row, and has the rows written.
Reason convert_rows(LzwDecoder& decoder, const ImageHeader& image, const ConversionOptions& options,
                    RowBatch& batch, ConversionReport& report) {
  while (rows_finished(batch) < image.height && data_end(decoder) == DataEnd::kNotYet) {
    const RowRun run{next_row_slot(batch), slot_step(batch), rows_before_write(batch)};
    std::uint32_t filled = 0;
    const Reason reason = decode_rows(decoder, run, filled);
    // Rows the run finished before a failure are held, not yet due.
    const Reason handed = hand_over_rows(batch, filled);
    if (handed != Reason::kNone) return handed;
    if (reason != Reason::kNone) return fail_after_held_rows(batch, reason);
  }
  const bool complete = rows_finished(batch) == image.height;
  const Reason reason = end_image_data(decoder, complete, options, report);
  if (reason != Reason::kNone) return fail_after_held_rows(batch, reason);
  return finish_rows(batch);
}

// The BMP of the first image: its headers, then, unless the image is refused,
// its rows, with the decoder's and the batch's working memory obtained for it.
//
// Two orders are the fixed contract's and stay so in both modes, so that a
// file is refused alike by both: the headers are written before the image is
// judged, so that headers that cannot be written give 30001 even for an image
// that is then refused (30008 interlaced, 30004 empty); and the working memory
// is obtained before the code size is looked at, so that memory that cannot be
// had gives 30003 even for a bad code size (30004). Either code is true of
// such a file, and BREVLO32's code for a file never changes.
Reason write_image(InputReader& reader, const ImageHeader& image, const Palette& palette,
                   const ConversionOptions& options, RowBatch& batch, ConversionReport& report) {
  Reason reason = write_headers(batch, palette);
  if (reason != Reason::kNone) return reason;
  if (image.interlaced && !options.interlaced) return Reason::kInterlaced;
  if (image.width == 0 || image.height == 0) return Reason::kEmptyImage;
  LzwDecoder* decoder = obtain_decoder();
  if (decoder == nullptr) return no_memory(report);
  if (!obtain_slots(batch)) {
    reason = no_memory(report);
    release_decoder(decoder);
    return reason;
  }
  reason = judge_code_size(reader, image.code_size);
  if (reason == Reason::kNone) {
    start_image_data(*decoder, reader, image.code_size, image.width);
    reason = convert_rows(*decoder, image, options, batch, report);
  }
  release_slots(batch);
  release_decoder(decoder);
  return reason;
}

// The first image, from its descriptor to the end of its data.
Reason convert_image(InputReader& reader, const GlobalTable& global,
                     const ConversionOptions& options, platform::FileHandle bmp_file,
                     ConversionReport& report) {
  ImageHeader image;
  Palette palette{};
  const Reason reason = read_first_image(reader, global, image, palette, report);
  if (reason != Reason::kNone) return reason;
  RowBatch batch = plan_rows(bmp_file, image.width, image.height, image.interlaced);
  const Reason written = write_image(reader, image, palette, options, batch, report);
  if (written == Reason::kWriteFailed) report.system_error = batch.system_error;
  return written;
}

// Walks the blocks up to the trailer, converting the first image and
// skipping the rest.
Reason walk(InputReader& reader, platform::FileHandle bmp_file, const ConversionOptions& options,
            ConversionReport& report) {
  GifScreen screen;
  Reason reason = read_screen(reader, options, screen, report);
  if (reason != Reason::kNone) return reason;
  const GlobalTable& global = screen.table;

  for (;;) {
    switch (read_byte(reader)) {
      case 0:
        return end_without_trailer(report.image_converted, options, global);
      case kExtensionIntroducer:
        read_byte(reader);  // label: every extension is skipped alike
        skip_sub_blocks(reader);
        break;
      case kImageSeparator:
        ++report.image_count;
        if (report.image_converted) {
          skip_image(reader);
          break;
        }
        reason = convert_image(reader, global, options, bmp_file, report);
        if (reason != Reason::kNone) return reason;
        report.image_converted = true;
        break;
      case kTrailer:
        return end_at_trailer(report.image_converted, global);
      default:
        break;  // stray byte between blocks
    }
  }
}

}  // namespace

ConversionResult convert_gif(platform::FileHandle gif_file, platform::FileHandle bmp_file,
                             const ConversionOptions& options, ConversionReport& report) {
  report = {};
  InputReader reader;
  start_reading(reader, gif_file);
  report.reason = walk(reader, bmp_file, options, report);
  note_read_error(reader, report);
  return code_for(report.reason);
}

}  // namespace brevlo
