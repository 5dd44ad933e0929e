// Writes the corpus the Windows host test checks brevlo32.dll against: GIFs
// covering success and every result code, each with the result code and BMP
// this (Linux) build produces for it, and this build's information text.
//
//   windows_corpus OUT_DIR [EXTRA.gif ...]
//
// OUT_DIR/cases.txt lists one case a line, "name code"; OUT_DIR/name.gif is the
// input and, for code 0, OUT_DIR/name.bmp the output. Every made-up case states
// the code it was built to give; a different code from this build is an error,
// so the corpus always covers what it claims. Extra GIFs are taken as they are.
#include <brevlo.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gif_writer.h"
#include "test_files.h"

namespace brevlo::test {
namespace {

constexpr int kNoIntent = -1;  // an extra GIF: whatever this build says

struct Case {
  std::string name;
  int intended;
  Bytes gif;
};

GifParts reference_parts() {
  GifParts parts;
  parts.width = 10;
  parts.height = 3;
  parts.data = sub_blocks(pack_codes(lzw_encode(noise_pixels(30, 8, 31), 8)), 255);
  return parts;
}

Bytes with(GifParts parts, void (*change)(GifParts&)) {
  change(parts);
  return assemble(parts);
}

Bytes cut(Bytes gif, std::size_t length) {
  gif.resize(length);
  return gif;
}

Bytes joined(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// A second image after the first, which a conversion reads and skips.
Bytes two_images() {
  GifParts parts = reference_parts();
  Bytes second = {0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0x81};
  second.insert(second.end(), 12, 0xEE);  // local table of 4 entries
  second.push_back(2);
  Bytes data = sub_blocks(pack_codes(lzw_encode({3, 1, 3, 1}, 2)), 255);
  second.insert(second.end(), data.begin(), data.end());
  second.insert(second.end(), {0x00, 0x3B});
  parts.after_image = second;
  return assemble(parts);
}

Bytes local_table(std::uint8_t packed, std::size_t entries) {
  GifParts parts = reference_parts();
  parts.image_packed = packed;
  for (std::size_t i = 0; i < entries * 3; ++i)
    parts.local_table.push_back(static_cast<std::uint8_t>(211 * i + 7));
  return assemble(parts);
}

// Long runs and repeats, so the decoder's strings grow long.
Bytes gradient_gif(int width, int height) {
  Bytes pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels.push_back(static_cast<std::uint8_t>((x / 7 + y / 5) % 256));
  return make_gif(width, height, pixels);
}

Bytes codes_gif(int width, int height, const std::vector<int>& codes) {
  GifParts parts;
  parts.width = static_cast<std::uint16_t>(width);
  parts.height = static_cast<std::uint16_t>(height);
  parts.data = sub_blocks(pack_codes(with_widths(codes, 8)), 255);
  return assemble(parts);
}

std::vector<Case> made_up_cases() {
  const Bytes reference = assemble(reference_parts());
  const std::size_t descriptor_end = 13 + 768 + 10;
  return {
      {"reference", 0, reference},
      {"gif87a", 0, with(reference_parts(), [](GifParts& p) { p.signature = "GIF87a"; })},
      {"any_version_character", 0,
       with(reference_parts(), [](GifParts& p) { p.signature = "GIF8~a"; })},
      {"extensions_and_stray_bytes", 0,
       with(reference_parts(),
            [](GifParts& p) {
              p.before_image = graphic_control_extension();
              Bytes note = comment_extension(std::string(700, 'n'));
              p.before_image.insert(p.before_image.end(), note.begin(), note.end());
              p.before_image.push_back(0x55);
              p.after_image = {0x77, 0x3B, 0x00};
            })},
      {"code_size_2_small_blocks", 0, make_gif(7, 5, noise_pixels(35, 2, 5), 2, 7)},
      {"one_byte_blocks", 0, make_gif(33, 9, noise_pixels(33 * 9, 8, 9), 8, 1)},
      {"full_table_kept", 0,
       make_gif(300, 200, noise_pixels(300 * 200, 8, 7), 8, 255, {true, FullTable::kDefer})},
      {"full_table_cleared", 0, make_gif(301, 199, noise_pixels(301 * 199, 8, 8))},
      {"gradient_640x480", 0, gradient_gif(640, 480)},
      {"widest", 0, make_gif(65535, 2, noise_pixels(65535 * 2, 2, 3), 2)},
      {"tallest", 0, make_gif(1, 65535, noise_pixels(65535, 1, 4), 2)},
      {"local_table_256", 0, local_table(0x87, 256)},
      {"local_table_16", 0, local_table(0x83, 16)},
      {"two_images", 0, two_images()},
      {"clear_then_end_rows_zero", 0, codes_gif(5, 4, {256, 257})},
      {"surplus_pixels_dropped", 0, make_gif(4, 2, noise_pixels(8 + 13, 8, 12))},
      {"signature_wrong", ERR_BAD_GIF,
       with(reference_parts(), [](GifParts& p) { p.signature = "GIF89b"; })},
      {"five_bytes", ERR_BAD_GIF, Bytes{'G', 'I', 'F', '8', '9'}},
      {"empty_file", ERR_BAD_GIF, Bytes{}},
      {"no_image", ERR_BAD_GIF, joined(cut(reference, 13 + 768), {0x3B})},
      {"width_zero", ERR_BAD_GIF, with(reference_parts(), [](GifParts& p) { p.width = 0; })},
      {"code_past_next_free", ERR_BAD_GIF, codes_gif(5, 4, {256, 7, 300, 257})},
      {"no_global_table", ERR_UNSUPPORTED,
       with(reference_parts(), [](GifParts& p) { p.screen_packed = 0x77; })},
      {"table_of_128_entries", ERR_UNSUPPORTED,
       with(reference_parts(), [](GifParts& p) { p.screen_packed = 0xF6; })},
      {"interlaced", ERR_UNSUPPORTED,
       with(reference_parts(), [](GifParts& p) { p.image_packed = 0x40; })},
      {"cut_in_header", ERR_EARLY_END, cut(reference, 10)},
      {"cut_in_colour_table", ERR_EARLY_END, cut(reference, 13 + 500)},
      {"cut_in_descriptor", ERR_EARLY_END, cut(reference, descriptor_end - 1)},
      {"zero_byte_between_blocks", ERR_EARLY_END,
       with(reference_parts(), [](GifParts& p) { p.before_image = {0x00}; })},
      {"no_trailer", ERR_EARLY_END, cut(reference, reference.size() - 1)},
  };
}

bool write_case(const std::filesystem::path& dir, const Case& c, std::ofstream& list) {
  const std::string gif = (dir / (c.name + ".gif")).string();
  const std::string bmp = (dir / (c.name + ".bmp")).string();
  write_file(gif, c.gif);
  const int result = BREVLO32(gif.c_str(), bmp.c_str());
  if (c.intended != kNoIntent && result != c.intended) {
    std::fprintf(stderr, "%s: built to give %d, this build gives %d\n", c.name.c_str(), c.intended,
                 result);
    return false;
  }
  list << c.name << ' ' << result << '\n';
  return true;
}

bool write_info(const std::filesystem::path& dir) {
  std::string text(static_cast<std::size_t>(BREVLOInfo(nullptr, 0)), ' ');
  if (BREVLOInfo(text.data(), static_cast<int32_t>(text.size())) != 0) return false;
  std::ofstream((dir / "info.txt").string(), std::ios::binary) << text;
  return true;
}

}  // namespace
}  // namespace brevlo::test

int main(int argc, char** argv) {
  using namespace brevlo::test;
  if (argc < 2) {
    std::fprintf(stderr, "usage: windows_corpus OUT_DIR [EXTRA.gif ...]\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);

  std::vector<Case> cases = made_up_cases();
  for (int i = 2; i < argc; ++i) {
    const std::filesystem::path extra = argv[i];
    cases.push_back({extra.stem().string(), kNoIntent, read_file(extra.string())});
  }
  std::ofstream list((dir / "cases.txt").string());
  bool ok = write_info(dir);
  for (const Case& c : cases) ok = write_case(dir, c, list) && ok;
  std::printf("%zu cases written to %s\n", cases.size(), dir.string().c_str());
  return ok ? 0 : 1;
}
