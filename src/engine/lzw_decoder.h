// Expands one GIF image's LZW code stream into rows of pixels, a run of rows
// at a time: the caller says where the rows go.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/conversion.h"
#include "engine/input_reader.h"

namespace brevlo {

// A decoder's working memory: its code table, the data sub-block being read,
// and where decoding stands between rows. Of a fixed size, whatever the image.
struct LzwDecoder;

// Obtains a decoder. Null when the memory cannot be had; platform::last_error
// then says why.
LzwDecoder* obtain_decoder();

// Releases a decoder; null is ignored.
void release_decoder(LzwDecoder* decoder);

// True for the LZW minimum code sizes GIF allows, 2 to 8.
bool is_valid_code_size(std::uint8_t code_size);

// Readies the decoder for the data sub-blocks of an image `width` pixels
// wide, read through reader, which stands just past the image's code-size
// byte; code_size is valid.
void start_image_data(LzwDecoder& decoder, InputReader& reader, std::uint8_t code_size,
                      std::uint32_t width);

// How the image data has ended, if it has.
enum class DataEnd : std::uint8_t {
  kNotYet,
  kEndCode,     // the end code, then the terminator
  kTerminator,  // the terminator where the next code should be: no end code
};

// Where decoded rows go: `count` rows of the image's width, the first at
// `first` and each next `step` bytes from the one before (a step may be
// negative). Whose rows they are, and what becomes of them, is the caller's.
struct RowRun {
  std::uint8_t* first = nullptr;
  std::ptrdiff_t step = 0;
  std::uint32_t count = 0;
};

// Decodes the next pixels into the rows of run, count > 0, until every one is
// full or the data ends (see data_end), and sets `filled` to the rows filled.
// A row the data left unfinished holds the pixels decoded and then any bytes;
// nothing is written past a row's width. A string that runs past the run's
// last row goes on in the first row of the next call. Returns kNone,
// kDataCutShort when the file ends inside the data, or kCorruptData for any
// other fault: a code past the next free one, or a byte other than the
// terminator after the end code's sub-block.
Reason decode_rows(LzwDecoder& decoder, const RowRun& run, std::uint32_t& filled);

// After the last row: decodes the codes left up to the end of the data,
// dropping their pixels. Returns as decode_rows.
Reason decode_past_last_row(LzwDecoder& decoder);

DataEnd data_end(const LzwDecoder& decoder);

}  // namespace brevlo
