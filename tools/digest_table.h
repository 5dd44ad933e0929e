// A set of records found by a digest of their keys, at 8 bytes a record: the
// top 32 bits of the key's 64-bit digest beside where the record lies in its
// spool (record_spool.h). Records whose stored bits agree with a digest are
// candidates, which the caller reads back and compares in full. The table is
// kept at most three quarters full, with linear probing from a slot chosen
// by the digest's top bits, so that it can grow without reading a record.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "record_spool.h"

namespace brevlo::cli {

struct DigestTable {
  std::vector<std::uint64_t> slots;  // 0: empty; else (digest's top 32 bits) << 32 | place + 1
  std::size_t used = 0;
  unsigned slot_bits = 0;  // slots.size() is 1 << slot_bits once the table has slots
};

// A 64-bit digest of key, its bits well mixed.
std::uint64_t digest_of(std::string_view key);

// A walk along the slots where records of one digest can be.
struct DigestProbe {
  std::size_t at = 0;
  std::uint32_t top = 0;
};

DigestProbe start_probe(const DigestTable& table, std::uint64_t digest);

// The next record whose stored bits agree with the probe's digest; false when
// there is none.
bool next_candidate(const DigestTable& table, DigestProbe& probe, RecordPlace& place);

// Adds the record at place under digest. False when the table cannot grow.
bool insert_digest(DigestTable& table, std::uint64_t digest, RecordPlace place);

}  // namespace brevlo::cli
