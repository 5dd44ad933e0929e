// The engine's entry and everything a caller exchanges with it: the options a
// conversion is asked to accept, the reason it ended, the result code each
// reason is reported with, and the report a person reads. Every step of the
// engine returns a Reason; the entry alone turns it into a result code.
//
// The exported BREVLO32 always converts with kStrictOptions, whose result codes
// and bytes never change. The brevlo command converts with kBroadOptions, which
// accept every ordinary GIF, and can ask for kStrictOptions to check what the
// library will accept.
#pragma once

#include <cstdint>

#include "brevlo.h"
#include "platform/platform.h"

namespace brevlo {

// The outcome of a conversion: 0 for success or one of the public result codes.
using ConversionResult = std::uint16_t;

inline constexpr ConversionResult kSuccess = BREVLO_SUCCESS;
inline constexpr ConversionResult kOpenFailed = ERR_OPEN_FAILED;
inline constexpr ConversionResult kNoMemory = ERR_NO_MEMORY;
inline constexpr ConversionResult kBadGif = ERR_BAD_GIF;
inline constexpr ConversionResult kUnsupported = ERR_UNSUPPORTED;
inline constexpr ConversionResult kEmptyName = ERR_EMPTY_NAME;
inline constexpr ConversionResult kEarlyEnd = ERR_EARLY_END;

// What a conversion accepts beyond the fixed contract. Every field false is
// the fixed contract itself.
struct ConversionOptions {
  // Colour tables of 2 to 256 entries, global or local, and a file without a
  // global table whose first image has a local one.
  bool any_colour_table = false;
  // Interlaced images, each row put in its place.
  bool interlaced = false;
  // A file that ends, or holds a 0 byte, where the next block would start,
  // after its first image was converted completely.
  bool trailer_optional = false;
  // A complete image whose data ends, with its terminator, without an end
  // code: the end of the data stands for the end code.
  bool end_code_optional = false;
};

inline constexpr ConversionOptions kStrictOptions{};
inline constexpr ConversionOptions kBroadOptions{true, true, true, true};

// How a step ended: kNone to go on, anything else ends the conversion and is
// reported as it stands. Each reason has exactly one result code.
enum class Reason : std::uint8_t {
  kNone,
  kWriteFailed,    // 30001: the BMP cannot be written or positioned
  kNoMemory,       // 30003: the decoder's working memory cannot be had
  kNotGif,         // 30004: no GIF signature
  kNoImage,        // 30004: the trailer came before any image
  kEmptyImage,     // 30004: width or height 0
  kBadCodeSize,    // 30004: LZW minimum code size outside 2..8 (see code_size)
  kCorruptData,    // 30004: corrupt LZW image data
  kDataCutShort,   // 30004: the file ends inside the image data
  kNoColourTable,  // 30008: no global table, and (broad) the first image has none either
  kTableSize,      // 30008: a table of other than 256 entries (see table_entries)
  kInterlaced,     // 30008: an interlaced image
  kEndedEarly,     // 30011: the file ended before its trailer
};

// The result code a reason is reported with.
constexpr ConversionResult code_for(Reason reason) {
  switch (reason) {
    case Reason::kNone:
      return kSuccess;
    case Reason::kWriteFailed:
      return kOpenFailed;
    case Reason::kNoMemory:
      return kNoMemory;
    case Reason::kNotGif:
    case Reason::kNoImage:
    case Reason::kEmptyImage:
    case Reason::kBadCodeSize:
    case Reason::kCorruptData:
    case Reason::kDataCutShort:
      return kBadGif;
    case Reason::kNoColourTable:
    case Reason::kTableSize:
    case Reason::kInterlaced:
      return kUnsupported;
    case Reason::kEndedEarly:
      return kEarlyEnd;
  }
  return kBadGif;
}

// What a conversion learnt about the file, filled as far as it got.
struct ConversionReport {
  Reason reason = Reason::kNone;
  std::uint32_t width = 0;  // the first image's size, once its descriptor was read
  std::uint32_t height = 0;
  // Entries of the colour table the reason names, or of the one the palette
  // came from; table_is_local when it is the first image's own.
  std::uint16_t table_entries = 0;
  bool table_is_local = false;
  std::uint8_t code_size = 0;     // the first image's LZW minimum code size
  std::uint32_t image_count = 0;  // image blocks met (every one when walked to the end)
  bool image_converted = false;   // the first image was decoded to the end of its data
  // Every row of the first image was finished, and its data then ended at its
  // terminator without an end code: refused as kCorruptData under the fixed
  // contract, converted under end_code_optional.
  bool end_code_missing = false;
  // The system's error number (platform::last_error) of the call that failed,
  // taken straight after it: the write of the BMP for kWriteFailed, the
  // obtain of working memory for kNoMemory, and for any other failure a read
  // of the GIF that failed, which ends the file as its end would. 0 when no
  // call failed or the system gave no number.
  int system_error = 0;
  // Frames (frames.h): the frames composed whole so far; the frame the reason
  // arose in (0: before the first image, or after the last frame); the
  // frames' size, the logical screen's or the first image's; and whether a
  // kNoMemory was the canvas limit (kMaxCanvasPixels) rather than the system.
  std::uint32_t frames = 0;
  std::uint32_t failed_frame = 0;
  std::uint32_t screen_width = 0;
  std::uint32_t screen_height = 0;
  bool screen_too_large = false;
};

// Converts the GIF read from gif_file, front to back and never positioned (a
// stream will do), into bmp_file, open for writing, empty and positionable.
// Tests the signature, then walks the blocks up to the trailer and has the
// first image written. Returns 0 or the result code of the reason it stopped
// for, which report.reason holds:
//   kBadGif       no GIF signature, no image, an empty image, a bad code size,
//                 corrupt image data, or the file ending inside it;
//   kUnsupported  (strict) a global colour table absent or not 256 entries, or
//                 an interlaced image; (broad) no colour table at all;
//   kEarlyEnd     the file ends before its trailer (also inside the header, the
//                 colour tables or the image descriptor); under the broad
//                 options not after the first image was converted;
//   kNoMemory, kOpenFailed  the decoder's memory, or a write of the BMP.
// Rows already written stay in bmp_file after a failure: removing it is the
// caller's. Defined with the block parser (gif_parser.cpp).
ConversionResult convert_gif(platform::FileHandle gif_file, platform::FileHandle bmp_file,
                             const ConversionOptions& options, ConversionReport& report);

}  // namespace brevlo
