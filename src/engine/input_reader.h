// Buffered, forward-only reads of the GIF file in chunks of kReaderBufferSize
// bytes. Every byte of the GIF, from its signature on, is read through it, so
// the file is never positioned and may be a stream.
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"

namespace brevlo {

inline constexpr std::int32_t kReaderBufferSize = 16 * 1024;

// The most bytes a sub-block holds after its length byte.
inline constexpr std::int32_t kMaxSubBlock = 255;

// The last chunk read and the place in it.
struct InputReader {
  platform::FileHandle file = platform::kNoFile;
  std::int32_t unread = 0;      // bytes of buffer not yet handed out
  std::int32_t next_index = 0;  // position of the next byte to hand out
  bool ended = false;           // a read gave the end of the file, or failed
  int system_error = 0;         // the failed read's platform::last_error, 0 if none failed
  std::array<std::uint8_t, kReaderBufferSize> buffer{};
};

// Starts reading file from its current position (its start, when just opened).
void start_reading(InputReader& reader, platform::FileHandle file);

// The next byte of the file, or 0 when the file has ended or a read failed.
std::uint8_t read_byte(InputReader& reader);

// Copies the next count bytes to destination; returns how many were delivered,
// fewer than count only when the file ended or a read failed.
std::int32_t read_block(InputReader& reader, std::uint8_t* destination, std::int32_t count);

// Passes over the next count bytes, or as many as the file still has.
void skip(InputReader& reader, std::int32_t count);

}  // namespace brevlo
