// The test seams' state: countdowns to the failing call and counts of the
// blocks handed out and given back. Compiled only into the engine the tests
// link. Every seam is safe to use from any thread.
#include "platform/fault_injection.h"

#include <atomic>

namespace brevlo::platform::fault_injection {

namespace {

std::atomic<std::uint64_t> obtains_until_failure{0};
std::atomic<std::uint64_t> closes_until_failure{0};
std::atomic<std::uint64_t> seeks_until_failure{0};
std::atomic<std::uint64_t> blocks_obtained{0};
std::atomic<std::uint64_t> blocks_released{0};
std::atomic<std::uint64_t> obtains_refused{0};
std::atomic<void (*)(const char*)> output_open_step{nullptr};

// True when this call is the one chosen to fail. Only the call that moves the
// countdown from 1 to 0 fails; once at 0 it stays there.
bool chosen_to_fail(std::atomic<std::uint64_t>& calls_until_failure) {
  std::uint64_t left = calls_until_failure.load(std::memory_order_relaxed);
  while (left != 0) {
    if (calls_until_failure.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
      return left == 1;
  }
  return false;
}

}  // namespace

void fail_obtain_number(std::uint64_t n) {
  blocks_obtained.store(0, std::memory_order_relaxed);
  blocks_released.store(0, std::memory_order_relaxed);
  obtains_refused.store(0, std::memory_order_relaxed);
  obtains_until_failure.store(n, std::memory_order_relaxed);
}

MemoryCounts memory_counts() {
  return {blocks_obtained.load(std::memory_order_relaxed),
          blocks_released.load(std::memory_order_relaxed),
          obtains_refused.load(std::memory_order_relaxed)};
}

void fail_close_number(std::uint64_t n) {
  closes_until_failure.store(n, std::memory_order_relaxed);
}

void fail_seek_number(std::uint64_t n) {
  seeks_until_failure.store(n, std::memory_order_relaxed);
}

void before_next_output_open(void (*step)(const char* path)) {
  output_open_step.store(step);
}

bool refuse_obtain() {
  if (!chosen_to_fail(obtains_until_failure)) return false;
  obtains_refused.fetch_add(1, std::memory_order_relaxed);
  return true;
}

void count_obtained() {
  blocks_obtained.fetch_add(1, std::memory_order_relaxed);
}

void count_released() {
  blocks_released.fetch_add(1, std::memory_order_relaxed);
}

bool refuse_close() {
  return chosen_to_fail(closes_until_failure);
}

bool refuse_seek() {
  return chosen_to_fail(seeks_until_failure);
}

void run_before_output_open(const char* path) {
  if (auto* step = output_open_step.exchange(nullptr); step != nullptr) step(path);
}

}  // namespace brevlo::platform::fault_injection
