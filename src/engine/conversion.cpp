#include "engine/conversion.h"

#include <array>

#include "engine/conversion_state.h"
#include "engine/gif_parser.h"

namespace brevlo {

namespace {

constexpr int kSignatureSize = 6;

// "GIF8" then any version character then "a": GIF87a, GIF89a and alike.
bool has_gif_signature(const std::array<std::uint8_t, kSignatureSize>& head) {
  return head[0] == 'G' && head[1] == 'I' && head[2] == 'F' && head[3] == '8' && head[5] == 'a';
}

ConversionResult check_signature(platform::FileHandle gif_file) {
  std::array<std::uint8_t, kSignatureSize> head{};
  std::int64_t got = platform::read(gif_file, head.data(), kSignatureSize);
  return got == kSignatureSize && has_gif_signature(head) ? kSuccess : kBadGif;
}

}  // namespace

ConversionResult convert_gif(platform::FileHandle gif_file, platform::FileHandle bmp_file,
                             const ConversionOptions& options, ConversionReport& report) {
  report = {};
  if (check_signature(gif_file) != kSuccess) {
    report.reason = Reason::kNotGif;
    return kBadGif;
  }
  ConversionState state;
  return parse(state, gif_file, bmp_file, options, report);
}

}  // namespace brevlo
