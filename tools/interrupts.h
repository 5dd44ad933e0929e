// How the command ends when a signal tells it to: SIGINT, SIGTERM, SIGHUP, and
// SIGPIPE when the reader of its output goes away. They are blocked in every
// thread, and one thread waits for them: it removes every temporary file
// that has a name at that moment, then lets the signal end the process as it
// would have, so that a shell, timeout, make or xargs sees a death by that
// signal. A signal ignored when the command starts (nohup) stays ignored.
//
// Most temporary files never have a name (see temporary_files.h); the few
// that do are registered here while they exist, each thread's under an
// ordinary mutex of its own.
#pragma once

#include <functional>
#include <string>

namespace brevlo::cli {

// Blocks the signals in the calling thread, so in every thread it starts
// later, and starts the thread that waits for them; the thread is detached
// and the command then ends through end_command. Also ignores SIGXFSZ, so
// that a file-size limit fails a write (EFBIG) instead of ending the process.
// Call before any other thread starts. When the waiting thread cannot start,
// the signals are left to their default actions.
void handle_interrupts();

// Ends the command with status. With a waiting thread, that thread ends it:
// an interrupt it took first, which the command's work may not have seen,
// ends the command by its signal instead.
[[noreturn]] void end_command(int status);

// Runs give_name, which gives a file the name `name` and returns 0 or the
// system's error number, and registers the name when it succeeds, both under
// the registry's lock: the waiting thread never finds the file without its
// name. Returns what give_name returned.
int name_registered(const std::string& name, const std::function<int()>& give_name);

// Forgets a name this thread registered, once its file is removed or renamed.
void forget_name(const std::string& name);

// After a write that failed with error: when it is EPIPE and SIGPIPE is
// handled here, ends the command as that signal does; otherwise returns.
void end_on_broken_pipe(int error);

}  // namespace brevlo::cli
