// Buffered reads of the GIF file in chunks of kReaderBufferSize bytes.
#pragma once

#include <cstdint>

#include "engine/conversion_state.h"

namespace brevlo {

// Empties the reader so the next read refills from the file's current position.
// Needed whenever the file was read or positioned without the reader.
void reset(InputReader& reader, platform::FileHandle file);

// The next byte of the file, or 0 when the file has ended or a read failed.
std::uint8_t read_byte(InputReader& reader);

// Copies the next count bytes to destination; returns how many were delivered,
// fewer than count only when the file ended or a read failed.
std::int32_t read_block(InputReader& reader, std::uint8_t* destination, std::int32_t count);

}  // namespace brevlo
