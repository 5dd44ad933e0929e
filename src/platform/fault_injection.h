// Test seams in the POSIX platform layer: make a chosen obtain of working
// memory, close or positioned write fail, count the blocks obtained and
// released, and run a step just before an output is opened. They exist only in
// the engine the tests and the fuzzer link, built with BREVLO_FAULT_INJECTION;
// the library, the command and the DLLs that users get contain none of it, and
// there every question the platform layer asks below has a fixed answer.
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

// Makes the nth seek or positioned write from now on (1 = the next one) fail
// without writing; 0 turns the failure off.
void fail_seek_number(std::uint64_t n);

// Runs step with the path just before the next open of an output, once; null
// turns it off. Lets a test change what the path names at the worst moment.
void before_next_output_open(void (*step)(const char* path));

// What the platform layer asks at each seam.
#ifdef BREVLO_FAULT_INJECTION
bool refuse_obtain();
void count_obtained();
void count_released();
bool refuse_close();
bool refuse_seek();
void run_before_output_open(const char* path);
#else
// Always inlined, so that not even an unoptimised build keeps a function by
// these names.
#define BREVLO_NO_SEAM [[gnu::always_inline]] inline
BREVLO_NO_SEAM bool refuse_obtain() {
  return false;
}
BREVLO_NO_SEAM void count_obtained() {}
BREVLO_NO_SEAM void count_released() {}
BREVLO_NO_SEAM bool refuse_close() {
  return false;
}
BREVLO_NO_SEAM bool refuse_seek() {
  return false;
}
BREVLO_NO_SEAM void run_before_output_open(const char* /*path*/) {}
#undef BREVLO_NO_SEAM
#endif

}  // namespace brevlo::platform::fault_injection
