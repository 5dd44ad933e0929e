// GIF file structure, as far as the converter reads it (little-endian):
//
//   Header and logical screen descriptor, 13 bytes
//     0   6  signature and version, "GIF87a" or "GIF89a"
//     6   2  logical screen width                  (frames only)
//     8   2  logical screen height                 (frames only)
//     10  1  packed: bit 7 global colour table present,
//               bits 0-2 N, a table of 2^(N+1) entries
//     11  1  background colour index               (frames only)
//     12  1  pixel aspect ratio                    (not used)
//   Global colour table: 2^(N+1) red, green, blue triples (768 bytes for 256)
//   Blocks, each introduced by one byte:
//     "!" (0x21)  extension: a label byte, then sub-blocks (length byte 1..255
//                 and that many bytes) up to a 0 length
//     "," (0x2C)  image: a 9-byte descriptor, an optional local colour table,
//                 the LZW minimum code size, then data sub-blocks up to a 0 length
//     ";" (0x3B)  trailer: the end of the GIF
//   Image descriptor, 9 bytes
//     0   2  left, 2  2  top                       (frames only)
//     4   2  width, 6  2  height
//     8   1  packed: bit 7 local colour table present, bit 6 interlaced,
//               bits 0-2 N, a local table of 2^(N+1) entries
//   Graphic control extension (label 0xF9), its first sub-block (frames only)
//     0   1  packed: bits 2-4 disposal method, bit 0 transparent index given
//     1   2  delay, in hundredths of a second
//     3   1  transparent colour index
//
// Any other byte between blocks is skipped; a 0 byte there, like the end of the
// file, means the GIF ended.
//
// The file is read once, front to back, through the buffered reader: it is
// never positioned, so a pipe converts like a file. These are the reads both
// walks share: the still image's (gif_parser.cpp) and the frames'
// (frame_parser.cpp).
#pragma once

#include <array>
#include <cstdint>

#include "engine/conversion.h"
#include "engine/input_reader.h"
#include "engine/lzw_decoder.h"

namespace brevlo {

inline constexpr std::uint8_t kExtensionIntroducer = 0x21;  // "!"
inline constexpr std::uint8_t kImageSeparator = 0x2C;       // ","
inline constexpr std::uint8_t kTrailer = 0x3B;              // ";"

inline constexpr int kColourTableSize = 3 * 256;

// A colour table as the file holds it: red, green, blue triples.
using ColourTable = std::array<std::uint8_t, kColourTableSize>;

// The global colour table as read; size 0 when the file has none.
struct GlobalTable {
  ColourTable bytes{};
  int size = 0;  // bytes
};

// What the header and logical screen descriptor say, and the global table.
struct GifScreen {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t background_index = 0;
  GlobalTable table;
};

// Reads the signature, the rest of the header and the global colour table, if
// any. The signature is judged on its own six bytes, so a stream that is not a
// GIF is refused without waiting for more. Returns kNone, kNotGif,
// kEndedEarly, or under the fixed contract (options.any_colour_table false)
// kNoColourTable or kTableSize for a global table absent or not of 256
// entries (report.table_entries then says how many it has).
Reason read_screen(InputReader& reader, const ConversionOptions& options, GifScreen& screen,
                   ConversionReport& report);

// The reason for a file that stopped before its first image could show a
// colour table: a file without a global table converts only when that image
// brings a table of its own, so one that ends or fails before is refused for
// its missing table, as the fixed contract refuses it; any other file for
// `reason`.
Reason no_table_or(const GlobalTable& global, Reason reason);

// Reads and drops sub-blocks up to the 0 length that ends them. Lengths are
// trusted: a file cut short shows up at the next block introducer.
void skip_sub_blocks(InputReader& reader);

// What an image's descriptor and the bytes after it say.
struct ImageHeader {
  std::uint16_t left = 0;
  std::uint16_t top = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  bool interlaced = false;       // rows arrive in the four passes of interlace
  bool has_local_table = false;  // the descriptor announces a table of the image's own
  std::uint16_t local_entries = 0;
  ColourTable local_table{};   // its triples, once read; zero past them
  std::uint8_t code_size = 0;  // the LZW minimum code size, as the file gives it
};

// Reads an image's descriptor, its local colour table if it has one, and its
// LZW minimum code size, the image separator having been read. Returns kNone,
// or kEndedEarly when the file ends inside the descriptor (has_local_table
// then false, the other fields 0) or the local table. A file that ends where
// the code size belongs gives code size 0, and reader.ended says so.
Reason read_image_header(InputReader& reader, ImageHeader& image);

// Reads the first image's header as read_image_header does, and has the
// report say what it holds: its size, its code size, and the colour table its
// pixels index (report.table_entries, table_is_local). Refuses an image with
// neither a table of its own nor a global one (kNoColourTable), and a file
// that ends before the image shows whether it has a table of its own as
// no_table_or says.
Reason read_first_image_header(InputReader& reader, const GlobalTable& global, ImageHeader& image,
                               ConversionReport& report);

// The reason the walk ends for at a 0 byte, or the end of the file, where a
// block would start: none after a converted image where the options allow a
// missing trailer; else kEndedEarly, or no_table_or before any image.
Reason end_without_trailer(bool image_converted, const ConversionOptions& options,
                           const GlobalTable& global);

// The reason the walk ends for at the trailer: none after a converted image,
// else kNoImage (or no_table_or).
Reason end_at_trailer(bool image_converted, const GlobalTable& global);

// The image data must end at its end code. A complete image may end without
// one, at its terminator, where the options allow it; report.end_code_missing
// says when a complete image did.
Reason judge_data_end(DataEnd end, bool complete, const ConversionOptions& options,
                      ConversionReport& report);

// The image's data is over: a complete image's codes past its last row are
// decoded, then the data's end is judged as judge_data_end judges it.
Reason end_image_data(LzwDecoder& decoder, bool complete, const ConversionOptions& options,
                      ConversionReport& report);

// The reason to refuse an image's LZW minimum code size for, kNone when it is
// valid: a file that ended where the code size belongs is cut short
// (kDataCutShort), not corrupt (kBadCodeSize).
Reason judge_code_size(const InputReader& reader, std::uint8_t code_size);

// Working memory could not be had: the system's error number is taken
// straight after the failed obtain. Returns kNoMemory.
Reason no_memory(ConversionReport& report);

// Once the walk has ended for report.reason: a read that failed ended the
// file as its end would, and the failure that followed is reported with the
// read's error.
void note_read_error(const InputReader& reader, ConversionReport& report);

}  // namespace brevlo
