#include "digest_table.h"

namespace brevlo::cli {

namespace {

constexpr unsigned kFirstSlotBits = 10;
constexpr unsigned kMostSlotBits = 31;
constexpr int kTopShift = 32;

// FNV-1a's constants, and the final mix of MurmurHash3, which spreads FNV's
// weak high bits over the whole word.
constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr std::uint64_t kMix1 = 0xff51afd7ed558ccdULL;
constexpr std::uint64_t kMix2 = 0xc4ceb9fe1a85ec53ULL;

std::uint32_t top_of(std::uint64_t slot) {
  return static_cast<std::uint32_t>(slot >> kTopShift);
}

std::size_t home_of(const DigestTable& table, std::uint32_t top) {
  return static_cast<std::size_t>(top >> (kTopShift - table.slot_bits));
}

void put(DigestTable& table, std::uint64_t slot) {
  const std::size_t mask = table.slots.size() - 1;
  std::size_t at = home_of(table, top_of(slot));
  while (table.slots[at] != 0) at = (at + 1) & mask;
  table.slots[at] = slot;
}

// Doubles the slots (the first time: makes them), placing every record anew
// from the bits it keeps.
bool grow(DigestTable& table) {
  const unsigned bits = table.slots.empty() ? kFirstSlotBits : table.slot_bits + 1;
  if (bits > kMostSlotBits) return false;
  std::vector<std::uint64_t> old(std::size_t{1} << bits, 0);
  old.swap(table.slots);
  table.slot_bits = bits;
  for (const std::uint64_t slot : old)
    if (slot != 0) put(table, slot);
  return true;
}

}  // namespace

std::uint64_t digest_of(std::string_view key) {
  std::uint64_t digest = kFnvOffset;
  for (const char c : key) digest = (digest ^ static_cast<unsigned char>(c)) * kFnvPrime;
  digest ^= digest >> 33;
  digest *= kMix1;
  digest ^= digest >> 33;
  digest *= kMix2;
  digest ^= digest >> 33;
  return digest;
}

DigestProbe start_probe(const DigestTable& table, std::uint64_t digest) {
  const auto top = static_cast<std::uint32_t>(digest >> kTopShift);
  return {table.slots.empty() ? 0 : home_of(table, top), top};
}

bool next_candidate(const DigestTable& table, DigestProbe& probe, RecordPlace& place) {
  if (table.slots.empty()) return false;
  const std::size_t mask = table.slots.size() - 1;
  for (std::uint64_t slot; (slot = table.slots[probe.at]) != 0;) {
    probe.at = (probe.at + 1) & mask;
    if (top_of(slot) == probe.top) {
      place = static_cast<RecordPlace>((slot & 0xFFFFFFFFULL) - 1);
      return true;
    }
  }
  return false;
}

bool insert_digest(DigestTable& table, std::uint64_t digest, RecordPlace place) {
  if ((table.used + 1) * 4 > table.slots.size() * 3 && !grow(table)) return false;
  put(table, (digest >> kTopShift) << kTopShift | (std::uint64_t{place} + 1));
  ++table.used;
  return true;
}

}  // namespace brevlo::cli
