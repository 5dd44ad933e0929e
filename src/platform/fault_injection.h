// Test hooks into the POSIX platform layer's working memory: make a chosen
// obtain fail, and count the blocks obtained and released. Compiled into the
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

}  // namespace brevlo::platform::fault_injection
