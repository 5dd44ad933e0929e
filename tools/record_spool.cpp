#include "record_spool.h"

#include <array>
#include <cstring>
#include <limits>

namespace brevlo::cli {

namespace {

// A record: the key's length and the name's, 4 bytes each (little-endian),
// then the key and the name, padded with zeros to a multiple of
// kRecordAlignment.
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kWriteAtOnce = std::size_t{64} * 1024;
// The last place is left out, so that place + 1 fits a RecordPlace too.
constexpr std::uint64_t kLargestSpool =
    std::uint64_t{std::numeric_limits<RecordPlace>::max()} * kRecordAlignment;

void put_length(std::string& to, std::size_t length) {
  for (int byte = 0; byte < 4; ++byte) to += static_cast<char>((length >> (8 * byte)) & 0xFF);
}

std::size_t get_length(const unsigned char* from) {
  std::size_t length = 0;
  for (int byte = 3; byte >= 0; --byte) length = (length << 8) | from[byte];
  return length;
}

// Writes the waiting records into the file, made at the first need; on
// failure they stay waiting, in memory, with every later one.
void write_waiting(RecordSpool& spool) {
  if (spool.file_unusable) return;
  if (spool.file == platform::kNoFile && platform::open_spool_file(spool.file) != 0) {
    spool.file = platform::kNoFile;
    spool.file_unusable = true;
    return;
  }
  if (!platform::write_at(spool.file, spool.written, spool.waiting.data(), spool.waiting.size())) {
    spool.file_unusable = true;
    return;
  }
  spool.written += spool.waiting.size();
  spool.waiting.clear();
}

// Copies count bytes of the spool from offset into destination.
bool read_bytes(const RecordSpool& spool, std::uint64_t offset, void* destination,
                std::size_t count) {
  auto* bytes = static_cast<unsigned char*>(destination);
  while (count > 0 && offset < spool.written) {
    const std::size_t part =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, spool.written - offset));
    const std::int64_t got =
        platform::read_at(spool.file, offset, bytes, static_cast<std::uint32_t>(part));
    if (got <= 0) return false;
    bytes += got;
    offset += static_cast<std::uint64_t>(got);
    count -= static_cast<std::size_t>(got);
  }
  if (count == 0) return true;
  const std::uint64_t in_waiting = offset - spool.written;
  if (in_waiting + count > spool.waiting.size()) return false;
  std::memcpy(bytes, spool.waiting.data() + in_waiting, count);
  return true;
}

}  // namespace

bool append_record(RecordSpool& spool, std::string_view key, std::string_view name,
                   RecordPlace& place) {
  const std::uint64_t offset = spool.written + spool.waiting.size();
  const std::size_t size = kHeaderSize + key.size() + name.size();
  const std::size_t padded = (size + kRecordAlignment - 1) / kRecordAlignment * kRecordAlignment;
  if (offset + padded > kLargestSpool || key.size() > 0xFFFFFFFF || name.size() > 0xFFFFFFFF)
    return false;
  place = static_cast<RecordPlace>(offset / kRecordAlignment);
  put_length(spool.waiting, key.size());
  put_length(spool.waiting, name.size());
  spool.waiting.append(key);
  spool.waiting.append(name);
  spool.waiting.append(padded - size, '\0');
  if (spool.waiting.size() >= kWriteAtOnce) write_waiting(spool);
  return true;
}

bool read_record(const RecordSpool& spool, RecordPlace place, std::string& key, std::string& name) {
  const std::uint64_t offset = std::uint64_t{place} * kRecordAlignment;
  std::array<unsigned char, kHeaderSize> header{};
  if (!read_bytes(spool, offset, header.data(), header.size())) return false;
  key.resize(get_length(header.data()));
  name.resize(get_length(header.data() + 4));
  return read_bytes(spool, offset + kHeaderSize, key.data(), key.size()) &&
         read_bytes(spool, offset + kHeaderSize + key.size(), name.data(), name.size());
}

void close_spool(RecordSpool& spool) {
  if (spool.file != platform::kNoFile) platform::close(spool.file);
  spool.file = platform::kNoFile;
}

}  // namespace brevlo::cli
