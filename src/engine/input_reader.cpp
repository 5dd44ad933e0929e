#include "engine/input_reader.h"

#include <algorithm>
#include <cstring>

namespace brevlo {

namespace {

// One read of up to a whole buffer. An error or the end of the file leaves the
// reader empty and marks it ended; a read error ends the GIF as its end does,
// and its error number is kept for the report.
bool refill(InputReader& reader) {
  const std::int64_t got = platform::read(reader.file, reader.buffer.data(), kReaderBufferSize);
  if (got < 0) reader.system_error = platform::last_error();
  reader.next_index = 0;
  reader.unread = got > 0 ? static_cast<std::int32_t>(got) : 0;
  reader.ended = reader.unread == 0;
  return !reader.ended;
}

// Hands the next count bytes (at most what is unread) to copy, or passes over
// them when destination is null; returns how many were handed out.
std::int32_t take(InputReader& reader, std::uint8_t* destination, std::int32_t count) {
  std::int32_t delivered = 0;
  while (delivered < count) {
    if (reader.unread == 0 && !refill(reader)) break;
    const std::int32_t step = std::min(reader.unread, count - delivered);
    if (destination != nullptr)
      std::memcpy(destination + delivered, reader.buffer.data() + reader.next_index,
                  static_cast<std::size_t>(step));
    reader.next_index += step;
    reader.unread -= step;
    delivered += step;
  }
  return delivered;
}

}  // namespace

void start_reading(InputReader& reader, platform::FileHandle file) {
  reader.file = file;
  reader.unread = 0;
  reader.next_index = 0;
  reader.ended = false;
  reader.system_error = 0;
}

std::uint8_t read_byte(InputReader& reader) {
  if (reader.unread == 0 && !refill(reader)) return 0;
  --reader.unread;
  return reader.buffer[reader.next_index++];
}

std::int32_t read_block(InputReader& reader, std::uint8_t* destination, std::int32_t count) {
  return take(reader, destination, count);
}

void skip(InputReader& reader, std::int32_t count) {
  take(reader, nullptr, count);
}

}  // namespace brevlo
