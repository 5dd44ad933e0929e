// The temporary files that have a name, registered while they have it so that
// an interrupt removes them (command_process_posix.cpp keeps the registry,
// temporary_files_posix.cpp names the files). Each thread's names are kept
// under a lock of its own, so that threads never wait for each other there.
#pragma once

#include <functional>
#include <string>

namespace brevlo::platform {

// Runs give_name, which gives a file the name `name` and returns 0 or the
// system's error number, and registers the name when it succeeds, both under
// the registry's lock: the waiting thread never finds the file without its
// name. Returns what give_name returned.
int name_registered(const std::string& name, const std::function<int()>& give_name);

// Forgets a name this thread registered, once its file is removed or renamed.
void forget_name(const std::string& name);

}  // namespace brevlo::platform
