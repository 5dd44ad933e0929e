// Little-endian stores, the byte order of every BMP field and pixel.
#pragma once

#include <cstdint>

namespace brevlo {

// Stores the low `bytes` bytes of value at `at`, least significant first.
inline void put_le(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace brevlo
