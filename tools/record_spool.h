// Records a run keeps of its names, appended to a nameless temporary file so
// that memory holds only where each one is: a key (what the record stands
// for, compared in full) and a name (shown in messages). The last records
// wait in memory until there are enough to write at once; where no temporary
// file can be made or written, they stay there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/command_platform.h"

namespace brevlo::cli {

struct RecordSpool {
  platform::FileHandle file = platform::kNoFile;
  bool file_unusable = false;  // it could not be made, or a write failed
  std::uint64_t written = 0;   // bytes in the file
  std::string waiting;         // the bytes after them, not yet written
};

// Where a record starts, divided by kRecordAlignment, so that a 32-bit
// number covers a spool of 32 GiB.
using RecordPlace = std::uint32_t;
inline constexpr std::uint64_t kRecordAlignment = 8;

// Appends a record; false when the spool is full.
bool append_record(RecordSpool& spool, std::string_view key, std::string_view name,
                   RecordPlace& place);

// Reads the record at place. False when it cannot be read back.
bool read_record(const RecordSpool& spool, RecordPlace place, std::string& key, std::string& name);

void close_spool(RecordSpool& spool);

}  // namespace brevlo::cli
