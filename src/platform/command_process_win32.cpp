// The command's threads and interrupts on Windows: worker threads, and the
// console control handler that ends the command on Ctrl-C, Ctrl-Break or the
// closing of its console window as Windows programs end then, with
// STATUS_CONTROL_C_EXIT, once no temporary file is left that the system would
// not remove itself (uninterrupted_win32.h).
#include <process.h>
#include <windows.h>

#include <atomic>
#include <bitset>
#include <cstdlib>
#include <vector>

#include "platform/command_platform.h"
#include "platform/uninterrupted_win32.h"

namespace brevlo::platform {

namespace {

// Held shared by each step that leaves a file the system would keep, and
// taken whole by an interrupt, which never gives it back.
SRWLOCK steps_under_way = SRWLOCK_INIT;
std::atomic<bool> interrupted{false};

unsigned __stdcall start_thread(void* work) {
  (*static_cast<const std::function<void()>*>(work))();
  return 0;
}

[[noreturn]] void end_by_interrupt() {
  interrupted.store(true);
  ::AcquireSRWLockExclusive(&steps_under_way);
  ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  for (;;) ::Sleep(INFINITE);  // not reached: the process ends with the call above
}

// Runs on a thread the system starts for the event.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      end_by_interrupt();
    default:
      return FALSE;
  }
}

}  // namespace

int run_uninterrupted(const std::function<int()>& step) {
  ::AcquireSRWLockShared(&steps_under_way);
  const int result = step();
  ::ReleaseSRWLockShared(&steps_under_way);
  return result;
}

unsigned processor_count() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) != 0 && process != 0)
    return static_cast<unsigned>(std::bitset<sizeof process * 8>(process).count());
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

void run_on_threads(unsigned threads, const std::function<void()>& work) {
  std::vector<HANDLE> started;
  started.reserve(threads > 0 ? threads - 1 : 0);
  auto* shared = const_cast<std::function<void()>*>(&work);
  for (unsigned i = 1; i < threads; ++i) {
    // Out of memory or handles: the threads already running do the work.
    const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, start_thread, shared, 0, nullptr);
    if (thread == 0) break;
    started.push_back(reinterpret_cast<HANDLE>(thread));  // NOLINT(performance-no-int-to-ptr)
  }
  work();
  for (HANDLE thread : started) {
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
  }
}

void handle_interrupts() {
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

void end_command(int status) {
  // An interrupt under way ends the process itself, by its own status.
  while (interrupted.load()) ::Sleep(INFINITE);
  std::exit(status);
}

// The tests that stop the command before a commit run on Linux alone.
void stop_before_commit() {}

}  // namespace brevlo::platform
