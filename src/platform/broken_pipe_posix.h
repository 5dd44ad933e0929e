// A failed write to a pipe whose reader went away, on Linux. SIGPIPE stays
// blocked in the threads that write (command_process_posix.cpp waits for it
// in a thread of its own), so the failed write ends the command here, as the
// signal would have. Windows has no such signal: there the write fails and is
// reported like any failed write.
#pragma once

namespace brevlo::platform {

// After a write that failed with error: when it is EPIPE and SIGPIPE is
// handled here, ends the command as that signal does; otherwise returns.
void end_on_broken_pipe(int error);

}  // namespace brevlo::platform
