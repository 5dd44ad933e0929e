#include "lzw_codes.h"

namespace brevlo::bench {

namespace {

constexpr std::size_t kDescriptorSize = 10;  // separator and 9 bytes
constexpr std::uint8_t kLocalTableFlag = 0x80;
constexpr std::uint8_t kTableSizeBits = 0x07;
constexpr unsigned kMaxWidth = 12;
constexpr unsigned kTableSize = 1U << kMaxWidth;

// The image's data sub-blocks joined, after its code size byte.
std::vector<std::uint8_t> joined_data(const std::vector<std::uint8_t>& gif, std::size_t at) {
  std::vector<std::uint8_t> data;
  for (; at < gif.size() && gif[at] != 0; at += gif[at] + std::size_t{1}) {
    if (at + 1 + gif[at] > gif.size()) return {};
    data.insert(data.end(), gif.begin() + static_cast<std::ptrdiff_t>(at + 1),
                gif.begin() + static_cast<std::ptrdiff_t>(at + 1 + gif[at]));
  }
  return data;
}

}  // namespace

std::uint64_t count_lzw_codes(const std::vector<std::uint8_t>& gif, std::size_t image_at) {
  std::size_t at = image_at + kDescriptorSize;
  if (at >= gif.size()) return 0;
  const std::uint8_t packed = gif[at - 1];
  if ((packed & kLocalTableFlag) != 0) at += std::size_t{3} << ((packed & kTableSizeBits) + 1);
  if (at >= gif.size()) return 0;
  const unsigned code_size = gif[at];
  const std::vector<std::uint8_t> data = joined_data(gif, at + 1);
  const unsigned clear = 1U << code_size;
  unsigned width = code_size + 1;
  unsigned next_free = clear + 2;
  bool first_of_table = true;
  std::uint64_t codes = 0;
  for (std::uint64_t bit = 0; bit + width <= 8 * std::uint64_t{data.size()};) {
    unsigned code = 0;
    for (unsigned i = 0; i < width; ++i, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1U) << i;
    ++codes;
    if (code == clear + 1) return codes;
    if (code == clear) {
      width = code_size + 1;
      next_free = clear + 2;
      first_of_table = true;
    } else if (first_of_table) {
      first_of_table = false;
    } else if (next_free < kTableSize && ++next_free == 1U << width && width < kMaxWidth) {
      ++width;
    }
  }
  return 0;
}

}  // namespace brevlo::bench
