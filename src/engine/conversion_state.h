// The working state of one conversion. Each call owns its own record, so
// conversions on different threads never share anything.
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace brevlo {

inline constexpr int kReaderBufferSize = 16 * 1024;
inline constexpr int kSubBlockBufferSize = 256;

// Buffered view of the GIF file: the last chunk read and the place in it.
struct InputReader {
  platform::FileHandle file = platform::kNoFile;
  std::int32_t unread = 0;      // bytes of buffer not yet handed out
  std::int32_t next_index = 0;  // position of the next byte to hand out
  std::array<std::uint8_t, kReaderBufferSize> buffer{};
};

// One LZW data sub-block, copied whole; also the scratch area for skipped
// sub-blocks.
struct SubBlock {
  std::array<std::uint8_t, kSubBlockBufferSize> bytes{};
};

struct ConversionState {
  InputReader reader;
  SubBlock sub_block;
  std::int32_t image_width = 0;
  std::int32_t image_height = 0;
  bool interlaced = false;  // the image's rows arrive in the four passes of interlace
};

}  // namespace brevlo
