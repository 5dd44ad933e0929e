// Test hooks into the POSIX platform layer: make a chosen obtain of working
// memory, close or seek fail, and count the blocks obtained and released. Compiled into the
// library objects with hidden visibility, so only programs that link the static
// library (tests, fuzzers) can reach it; hosts of the shared library cannot.
// Every hook is safe to call from any thread.
#pragma once

#include <cstdint>

namespace brevlo::platform::fault_injection {

struct MemoryCounts {
  std::uint64_t obtained = 0;  // blocks handed out
  std::uint64_t released = 0;  // non-null blocks given back
  std::uint64_t refused = 0;   // obtains made to fail
};

// Makes the nth obtain from now on (1 = the next one) return null, whichever
// thread asks; 0 turns the failure off. Also zeroes the counts.
void fail_obtain_number(std::uint64_t n);

MemoryCounts memory_counts();

// Makes the nth close from now on (1 = the next one) report a failure, after
// releasing the file as usual; 0 turns the failure off.
void fail_close_number(std::uint64_t n);

// Makes the nth seek from now on (1 = the next one) fail without moving; 0
// turns the failure off.
void fail_seek_number(std::uint64_t n);

}  // namespace brevlo::platform::fault_injection
