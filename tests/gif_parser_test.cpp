// The block loop, the header and colour-table checks, and files that end at
// every length.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

const Bytes kPixels = noise_pixels(6 * 5, 8, 21);

GifParts valid_parts() {
  GifParts parts;
  parts.width = 6;
  parts.height = 5;
  parts.data = sub_blocks(pack_codes(lzw_encode(kPixels, 8)), 255);
  return parts;
}

Bytes expected() {
  return expected_bmp(6, 5, kPixels, test_colour_table());
}

constexpr int kAsStrict = -1;

// result is BREVLO32's, and the engine's under the strict options, which
// also give reason when one is named; broad is the result under the broad
// options.
struct Variant {
  const char* name;
  void (*change)(GifParts&);
  int result;
  int broad = kAsStrict;
  Reason reason = Reason::kNone;
  // The report's end_code_missing: under the broad options, and under the
  // strict ones where the data is refused as corrupt.
  bool end_code_missing = false;
};

// The picture the parts describe: kPixels with the table the image uses.
Bytes expected_from(const GifParts& parts) {
  if (!parts.local_table.empty()) return expected_bmp(6, 5, kPixels, parts.local_table);
  if (!parts.global_table.empty()) return expected_bmp(6, 5, kPixels, parts.global_table);
  return expected();
}

Bytes table_of(int entries) {
  Bytes table = test_colour_table();
  table.resize(static_cast<std::size_t>(entries) * 3);
  return table;
}

// A second image, with its own local table and other pixels, and its data.
Bytes second_image() {
  Bytes second = {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0x81};
  const Bytes local(12, 0xEE);
  second.insert(second.end(), local.begin(), local.end());
  second.push_back(2);
  const Bytes data = sub_blocks(pack_codes(lzw_encode({3, 3, 3, 3}, 2)), 255);
  second.insert(second.end(), data.begin(), data.end());
  second.push_back(0);
  return second;
}

void interlace(GifParts& parts) {
  parts.image_packed |= 0x40;
  parts.data = sub_blocks(pack_codes(lzw_encode(interlaced_order(kPixels, 6, 5), 8)), 255);
}

// The codes of pixels up to their last pixel code: no end code follows.
std::vector<Code> without_end_code(const Bytes& pixels) {
  std::vector<Code> codes = lzw_encode(pixels, 8);
  codes.pop_back();
  return codes;
}

void PrintTo(const Variant& c, std::ostream* os) {
  *os << c.name;
}

class ParserVariantTest : public testing::TestWithParam<Variant> {};

TEST_P(ParserVariantTest, GivesResultAndLeavesOutputOnlyOnSuccess) {
  GifParts parts = valid_parts();
  GetParam().change(parts);
  ScratchDir dir;
  ASSERT_EQ(convert_bytes(dir, assemble(parts)), GetParam().result);
  if (GetParam().result == 0) {
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected_from(parts));
  } else {
    EXPECT_FALSE(exists(dir.path("out.bmp")));
  }
  ConversionReport report;
  EXPECT_EQ(convert_bytes_with(dir, assemble(parts), kStrictOptions, report), GetParam().result);
  if (GetParam().reason != Reason::kNone) {
    EXPECT_EQ(report.reason, GetParam().reason);
  }
  if (report.reason == Reason::kCorruptData) {
    EXPECT_EQ(report.end_code_missing, GetParam().end_code_missing);
  }
}

TEST_P(ParserVariantTest, BroadOptionsGiveTheirResult) {
  GifParts parts = valid_parts();
  GetParam().change(parts);
  const int broad = GetParam().broad == kAsStrict ? GetParam().result : GetParam().broad;
  ScratchDir dir;
  ConversionReport report;
  ASSERT_EQ(convert_bytes_with(dir, assemble(parts), kBroadOptions, report), broad);
  if (broad == 0) {
    EXPECT_EQ(read_file(dir.path("out.bmp")), expected_from(parts));
    EXPECT_EQ(report.reason, Reason::kNone);
    EXPECT_EQ(report.end_code_missing, GetParam().end_code_missing);
  } else {
    EXPECT_FALSE(exists(dir.path("out.bmp")));
    EXPECT_NE(report.reason, Reason::kNone);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ParserVariantTest,
    testing::Values(
        Variant{"plain", [](GifParts&) {}, 0},
        Variant{"gif87a", [](GifParts& p) { p.signature = "GIF87a"; }, 0},
        Variant{"any_version_character", [](GifParts& p) { p.signature = "GIF8xa"; }, 0},
        Variant{"version_character_0x01",
                [](GifParts& p) {
                  p.signature =
                      "GIF8\x01"
                      "a";
                },
                0},
        Variant{"signature_gif89b", [](GifParts& p) { p.signature = "GIF89b"; }, 30004, 30004,
                Reason::kNotGif},
        Variant{"signature_in_lower_case", [](GifParts& p) { p.signature = "gif89a"; }, 30004,
                30004, Reason::kNotGif},
        Variant{"signature_gif79a", [](GifParts& p) { p.signature = "GIF79a"; }, 30004, 30004,
                Reason::kNotGif},
        Variant{"bmp_signature",
                [](GifParts& p) { p.signature = std::string("BM\x36\x04\x00\x00", 6); }, 30004,
                30004, Reason::kNotGif},
        Variant{"extensions_before_image",
                [](GifParts& p) {
                  p.before_image = graphic_control_extension();
                  Bytes comment = comment_extension(std::string(600, 'c'));
                  p.before_image.insert(p.before_image.end(), comment.begin(), comment.end());
                },
                0},
        Variant{"application_and_plain_text_extensions",
                [](GifParts& p) {
                  p.before_image = {0x21, 0xFF, 0x0B, 'N',  'E',  'T',  'S',  'C',  'A',
                                    'P',  'E',  '2',  '.',  '0',  0x03, 0x01, 0x00, 0x00,
                                    0x00, 0x21, 0x01, 0x02, 0x01, 0x02, 0x00};
                },
                0},
        Variant{"stray_bytes_between_blocks",
                [](GifParts& p) {
                  p.before_image = {0x01, 0xFF, 0x3A, 0x2B};
                },
                0},
        Variant{"stray_bytes_before_trailer",
                [](GifParts& p) {
                  p.after_image = {0x77, 0x3B};
                },
                0},
        Variant{"no_image", [](GifParts& p) { p.before_image = {0x3B}; }, 30004, 30004,
                Reason::kNoImage},
        Variant{"second_image_with_its_own_table",
                [](GifParts& p) {
                  p.after_image = second_image();
                  p.after_image.push_back(0x3B);
                },
                0},
        Variant{"local_table_of_16_entries",
                [](GifParts& p) {
                  p.image_packed = 0x83;
                  p.local_table = table_of(16);
                },
                0},
        Variant{"bytes_after_trailer_ignored",
                [](GifParts& p) {
                  p.after_image = {0x3B, 0x00, 0x00};
                },
                0},
        Variant{"table_of_128_entries",
                [](GifParts& p) {
                  p.screen_packed = 0xF6;
                  p.global_table = table_of(128);
                },
                30008, 0, Reason::kTableSize},
        Variant{"table_of_2_entries",
                [](GifParts& p) {
                  p.screen_packed = 0xF0;
                  p.global_table = table_of(2);
                },
                30008, 0, Reason::kTableSize},
        Variant{"table_flag_clear", [](GifParts& p) { p.screen_packed = 0x77; }, 30008, 30008,
                Reason::kNoColourTable},
        Variant{"no_global_table_but_a_local_one",
                [](GifParts& p) {
                  p.screen_packed = 0x00;
                  p.omit_global_table = true;
                  p.image_packed = 0x87;
                  p.local_table = test_colour_table();
                },
                30008, 0, Reason::kNoColourTable},
        Variant{"no_colour_table_at_all",
                [](GifParts& p) {
                  p.screen_packed = 0x07;
                  p.omit_global_table = true;
                },
                30008, 30008, Reason::kNoColourTable},
        Variant{"no_global_table_no_image",
                [](GifParts& p) {
                  p.screen_packed = 0x00;
                  p.omit_global_table = true;
                  p.before_image = {0x3B};
                },
                30008, 30008, Reason::kNoColourTable},
        Variant{"interlaced", interlace, 30008, 0, Reason::kInterlaced},
        Variant{"interlaced_with_local_table_and_no_trailer",
                [](GifParts& p) {
                  interlace(p);
                  p.image_packed |= 0x87;
                  p.local_table = table_of(256);
                  p.after_image = {};
                },
                30008, 0, Reason::kInterlaced},
        Variant{"code_size_0", [](GifParts& p) { p.code_size = 0; }, 30004, 30004,
                Reason::kBadCodeSize},
        Variant{"code_size_1", [](GifParts& p) { p.code_size = 1; }, 30004, 30004,
                Reason::kBadCodeSize},
        Variant{"code_size_9", [](GifParts& p) { p.code_size = 9; }, 30004, 30004,
                Reason::kBadCodeSize},
        Variant{"code_size_12", [](GifParts& p) { p.code_size = 12; }, 30004, 30004,
                Reason::kBadCodeSize},
        Variant{"code_size_255", [](GifParts& p) { p.code_size = 255; }, 30004, 30004,
                Reason::kBadCodeSize},
        Variant{"zero_byte_between_blocks", [](GifParts& p) { p.before_image = {0x00}; }, 30011,
                30011, Reason::kEndedEarly},
        Variant{"zero_byte_instead_of_trailer", [](GifParts& p) { p.after_image = {0x00}; }, 30011,
                0},
        Variant{
            "no_end_code",
            [](GifParts& p) { p.data = sub_blocks(pack_codes(without_end_code(kPixels)), 255); },
            30004, 0, Reason::kCorruptData, true},
        Variant{"no_end_code_interlaced",
                [](GifParts& p) {
                  interlace(p);
                  p.data = sub_blocks(pack_codes(without_end_code(interlaced_order(kPixels, 6, 5))),
                                      255);
                },
                30008, 0, Reason::kInterlaced, true},
        Variant{"no_end_code_before_the_last_row",
                [](GifParts& p) {
                  const Bytes four_rows(kPixels.begin(), kPixels.end() - 6);  // of the 6x5
                  p.data = sub_blocks(pack_codes(without_end_code(four_rows)), 255);
                },
                30004, 30004, Reason::kCorruptData},
        Variant{"no_end_code_no_terminator",
                [](GifParts& p) {
                  p.data = sub_blocks(pack_codes(without_end_code(kPixels)), 255);
                  p.after_data = {};
                  p.after_image = {};
                },
                30004, 30004, Reason::kDataCutShort},
        Variant{"width_zero", [](GifParts& p) { p.width = 0; }, 30004, 30004, Reason::kEmptyImage},
        Variant{"height_zero", [](GifParts& p) { p.height = 0; }, 30004},
        Variant{"interlace_before_empty",
                [](GifParts& p) {
                  p.width = 0;
                  p.image_packed = 0x40;
                },
                30008, 30004}),
    [](const testing::TestParamInfo<Variant>& info) { return info.param.name; });

// A file that ends at any length, read from a file or from a pipe, under
// either options: not a GIF before its sixth byte, then ended early up to the
// first image's code size, cut short inside the image data, and once that data
// is whole (its terminator and all after it may be missing) ended early under
// the fixed contract and converted under the broad options. The file has an
// extension, a first image with a local table and data in sub-blocks of 7
// bytes, and a second image after it.
TEST(Truncation, EveryLengthGivesTheReasonForWhereTheFileEnds) {
  GifParts parts = valid_parts();
  parts.before_image = graphic_control_extension();
  parts.image_packed = 0x83;  // a local table of 16 entries
  parts.local_table = table_of(16);
  parts.data = sub_blocks(pack_codes(lzw_encode(kPixels, 8)), 7);
  parts.after_image = second_image();
  parts.after_image.push_back(0x3B);
  const Bytes gif = assemble(parts);
  const std::size_t code_size_at =
      13 + 768 + parts.before_image.size() + 1 + 9 + parts.local_table.size();
  const std::size_t terminator_at = code_size_at + 1 + parts.data.size();
  ASSERT_EQ(gif[terminator_at], 0);
  ScratchDir dir;
  for (const bool broad : {false, true}) {
    const ConversionOptions& options = broad ? kBroadOptions : kStrictOptions;
    for (std::size_t length = 0; length <= gif.size(); ++length) {
      Reason reason = Reason::kNone;
      if (length < 6) {
        reason = Reason::kNotGif;
      } else if (length >= code_size_at && length < terminator_at) {
        reason = Reason::kDataCutShort;
      } else if (length < code_size_at || (length < gif.size() && !broad)) {
        reason = Reason::kEndedEarly;
      }
      SCOPED_TRACE(std::string(broad ? "broad" : "strict") + ", length " + std::to_string(length));
      const Bytes prefix(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(length));
      ConversionReport from_file;
      ConversionReport from_pipe;
      ASSERT_EQ(convert_bytes_with(dir, prefix, options, from_file), code_for(reason));
      EXPECT_EQ(from_file.reason, reason);
      if (reason == Reason::kNone) {
        EXPECT_EQ(read_file(dir.path("out.bmp")), expected_bmp(6, 5, kPixels, parts.local_table));
      }
      ASSERT_EQ(convert_stream_with(dir, prefix, options, from_pipe), code_for(reason));
      EXPECT_EQ(from_pipe.reason, reason);
    }
  }
}

TEST(GifParser, WrongTableSizeIsReportedBeforeMissingTable) {
  Bytes gif = assemble(valid_parts());
  gif[10] = 0xF0;
  gif.resize(13);
  ScratchDir dir;
  EXPECT_EQ(convert_bytes(dir, gif), 30008);
}

// A read of the GIF that fails ends the file as its end would, and the report
// carries that read's own error number: here this process's memory, read from
// address 0, which no process has.
TEST(GifParser, AFailedReadIsReportedWithItsError) {
  const platform::FileHandle gif = platform::open_for_reading("/proc/self/mem");
  if (gif == platform::kNoFile) GTEST_SKIP() << "no /proc/self/mem to read";
  ScratchDir dir;
  const platform::FileHandle bmp = platform::open_for_writing(dir.path("out.bmp").c_str());
  ConversionReport report;
  EXPECT_EQ(convert_gif(gif, bmp, kBroadOptions, report), ERR_BAD_GIF);
  platform::close(gif);
  platform::close(bmp);
  EXPECT_EQ(report.reason, Reason::kNotGif);
  EXPECT_EQ(report.system_error, EIO);
}

}  // namespace
}  // namespace brevlo::test
