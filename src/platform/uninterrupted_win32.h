// On Windows a temporary file of the command is marked for deletion while it
// is written, so that the system removes it however the process ends (see
// temporary_files_win32.cpp). Only two short steps leave a file the system
// would keep: between creating it and marking it, and between unmarking it
// and giving it its name. Those steps run here, and an interrupt
// (command_process_win32.cpp) waits for the ones under way and lets no other
// start before it ends the process.
#pragma once

#include <functional>

namespace brevlo::platform {

// Runs step and returns what it returns (0 or the system's error number).
// Steps on different threads run at once.
int run_uninterrupted(const std::function<int()>& step);

}  // namespace brevlo::platform
