#include "gif_writer.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace brevlo::test {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxWidth = 12;

// What a decoder's table looks like while it reads: the width of the next code.
struct DecoderView {
  int clear_code;
  int next = 0;
  int width = 0;
  bool have_previous = false;

  explicit DecoderView(int code_size) : clear_code(1 << code_size) { restart(); }
  void restart() {
    next = clear_code + 2;
    width = 0;
    while ((1 << width) <= clear_code) ++width;
    have_previous = false;
  }
  // Called after a non-clear, non-end code was read.
  void took_code() {
    if (have_previous && next < kMaxCodes) {
      ++next;
      if (next == (1 << width) && width < kMaxWidth) ++width;
    }
    have_previous = true;
  }
};

}  // namespace

std::vector<Code> lzw_encode(const Bytes& pixels, int code_size, EncodeOptions options) {
  const int clear = 1 << code_size;
  DecoderView view(code_size);
  std::unordered_map<std::uint32_t, int> table;
  int next = clear + 2;
  std::vector<Code> out;
  auto emit = [&](int value) {
    out.push_back({value, view.width});
    if (value == clear) {
      view.restart();
    } else if (value != clear + 1) {
      view.took_code();
    }
  };
  auto restart = [&] {
    table.clear();
    next = clear + 2;
  };
  if (options.initial_clear) emit(clear);
  if (pixels.empty()) {
    emit(clear + 1);
    return out;
  }
  int current = pixels[0];
  for (std::size_t i = 1; i < pixels.size(); ++i) {
    std::uint32_t key = (static_cast<std::uint32_t>(current) << 8) | pixels[i];
    auto found = table.find(key);
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    emit(current);
    if (next < kMaxCodes) table[key] = next++;
    if (next == kMaxCodes && options.full_table == FullTable::kClear) {
      emit(clear);
      restart();
    }
    current = pixels[i];
  }
  emit(current);
  emit(clear + 1);
  return out;
}

std::vector<Code> with_widths(const std::vector<int>& values, int code_size) {
  const int clear = 1 << code_size;
  DecoderView view(code_size);
  std::vector<Code> out;
  for (int value : values) {
    out.push_back({value, view.width});
    if (value == clear) {
      view.restart();
    } else if (value != clear + 1) {
      view.took_code();
    }
  }
  return out;
}

Bytes pack_codes(const std::vector<Code>& codes) {
  Bytes out;
  std::uint32_t accumulator = 0;
  int bits = 0;
  for (const Code& code : codes) {
    accumulator |= static_cast<std::uint32_t>(code.value) << bits;
    bits += code.width;
    while (bits >= 8) {
      out.push_back(static_cast<std::uint8_t>(accumulator));
      accumulator >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(static_cast<std::uint8_t>(accumulator));
  return out;
}

Bytes sub_blocks(const Bytes& data, int block_size) {
  Bytes out;
  for (std::size_t at = 0; at < data.size(); at += static_cast<std::size_t>(block_size)) {
    std::size_t length = std::min(data.size() - at, static_cast<std::size_t>(block_size));
    out.push_back(static_cast<std::uint8_t>(length));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + length));
  }
  return out;
}

namespace {
void put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}
}  // namespace

Bytes test_colour_table() {
  Bytes table;
  for (int i = 0; i < 256; ++i) {
    table.push_back(static_cast<std::uint8_t>(i));
    table.push_back(static_cast<std::uint8_t>(255 - i));
    table.push_back(static_cast<std::uint8_t>(i ^ 0x5A));
  }
  return table;
}

Bytes assemble(const GifParts& parts) {
  Bytes out(parts.signature.begin(), parts.signature.end());
  put16(out, parts.screen_width ? parts.screen_width : parts.width);
  put16(out, parts.screen_height ? parts.screen_height : parts.height);
  out.push_back(parts.screen_packed);
  out.push_back(0);  // background
  out.push_back(0);  // aspect
  if (!parts.omit_global_table)
    append(out, parts.global_table.empty() ? test_colour_table() : parts.global_table);
  append(out, parts.before_image);
  out.push_back(0x2C);
  put16(out, 0);
  put16(out, 0);
  put16(out, parts.width);
  put16(out, parts.height);
  out.push_back(parts.image_packed);
  append(out, parts.local_table);
  out.push_back(parts.code_size);
  append(out, parts.data);
  append(out, parts.after_data);
  append(out, parts.after_image);
  return out;
}

Bytes make_gif(int width, int height, const Bytes& pixels, int code_size, int block_size,
               EncodeOptions options) {
  GifParts parts;
  parts.width = static_cast<std::uint16_t>(width);
  parts.height = static_cast<std::uint16_t>(height);
  parts.code_size = static_cast<std::uint8_t>(code_size);
  parts.data = sub_blocks(pack_codes(lzw_encode(pixels, code_size, options)), block_size);
  return assemble(parts);
}

Bytes interlaced_order(const Bytes& pixels, int width, int height) {
  Bytes out;
  const auto row_width = static_cast<std::ptrdiff_t>(width);
  for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
    for (int row = start; row < height; row += step) {
      const auto from = pixels.begin() + row * row_width;
      out.insert(out.end(), from, from + row_width);
    }
  return out;
}

FrameParts frame_at(int left, int top, int width, int height, const Bytes& pixels) {
  FrameParts frame;
  frame.left = static_cast<std::uint16_t>(left);
  frame.top = static_cast<std::uint16_t>(top);
  frame.width = static_cast<std::uint16_t>(width);
  frame.height = static_cast<std::uint16_t>(height);
  frame.pixels = pixels;
  return frame;
}

Bytes frame_block(const FrameParts& frame) {
  Bytes out;
  if (frame.control) {
    const int flags = (frame.disposal & 7) << 2 | (frame.transparent >= 0 ? 1 : 0);
    out = {0x21, 0xF9, 0x04, static_cast<std::uint8_t>(flags)};
    put16(out, frame.delay);
    out.push_back(static_cast<std::uint8_t>(std::max(frame.transparent, 0)));
    out.push_back(0);
  }
  out.push_back(0x2C);
  put16(out, frame.left);
  put16(out, frame.top);
  put16(out, frame.width);
  put16(out, frame.height);
  int table_bits = 0;
  while ((std::size_t{6} << table_bits) < frame.local_table.size()) ++table_bits;
  out.push_back(static_cast<std::uint8_t>((frame.local_table.empty() ? 0 : 0x80 | table_bits) |
                                          (frame.interlaced ? 0x40 : 0)));
  append(out, frame.local_table);
  out.push_back(frame.code_size);
  const Bytes stored =
      frame.interlaced ? interlaced_order(frame.pixels, frame.width, frame.height) : frame.pixels;
  append(out, sub_blocks(pack_codes(lzw_encode(stored, frame.code_size)), 255));
  out.push_back(0);
  return out;
}

Bytes animation_gif(std::uint16_t width, std::uint16_t height,
                    const std::vector<FrameParts>& frames, bool trailer) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  put16(out, width);
  put16(out, height);
  out.insert(out.end(), {0xF7, 0, 0});  // a 256-entry global table, background 0
  append(out, test_colour_table());
  for (const FrameParts& frame : frames) append(out, frame_block(frame));
  if (trailer) out.push_back(0x3B);
  return out;
}

Bytes graphic_control_extension() {
  return {0x21, 0xF9, 0x04, 0x05, 0x0A, 0x00, 0x07, 0x00};
}

Bytes comment_extension(const std::string& text) {
  Bytes out = {0x21, 0xFE};
  append(out, sub_blocks(Bytes(text.begin(), text.end()), 255));
  out.push_back(0);
  return out;
}

Bytes noise_pixels(int count, int bits, std::uint32_t seed) {
  Bytes out(static_cast<std::size_t>(count));
  std::uint32_t state = seed * 2654435761U + 1;
  for (auto& pixel : out) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    pixel = static_cast<std::uint8_t>(state & ((1U << bits) - 1));
  }
  return out;
}

}  // namespace brevlo::test
