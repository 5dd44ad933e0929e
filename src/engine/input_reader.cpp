#include "engine/input_reader.h"

#include <algorithm>
#include <cstring>

namespace brevlo {

namespace {

// One read of up to a whole buffer at the file's current position. An error or
// the end of the file leaves the reader empty.
bool refill(InputReader& reader) {
  std::int64_t got = platform::read(reader.file, reader.buffer.data(), kReaderBufferSize);
  reader.next_index = 0;
  reader.unread = got > 0 ? static_cast<std::int32_t>(got) : 0;
  return reader.unread > 0;
}

}  // namespace

void reset(InputReader& reader, platform::FileHandle file) {
  reader.file = file;
  reader.unread = 0;
  reader.next_index = 0;
}

std::uint8_t read_byte(InputReader& reader) {
  if (reader.unread == 0 && !refill(reader)) return 0;
  --reader.unread;
  return reader.buffer[reader.next_index++];
}

std::int32_t read_block(InputReader& reader, std::uint8_t* destination, std::int32_t count) {
  std::int32_t delivered = 0;
  while (delivered < count) {
    if (reader.unread == 0 && !refill(reader)) break;
    std::int32_t take = std::min(reader.unread, count - delivered);
    std::memcpy(destination + delivered, reader.buffer.data() + reader.next_index,
                static_cast<std::size_t>(take));
    reader.next_index += take;
    reader.unread -= take;
    delivered += take;
  }
  return delivered;
}

}  // namespace brevlo
