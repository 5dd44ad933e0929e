// The command's threads and interrupts on POSIX systems: worker threads,
// the thread that waits for interrupt signals and ends the command, and the
// registry of temporary files that have a name, which it removes first.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/broken_pipe_posix.h"
#include "platform/command_platform.h"
#include "platform/hidden_names_posix.h"

namespace brevlo::platform {

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
// The waiting thread needs little stack, and a small one still starts under a
// tight limit on the process's memory.
constexpr std::size_t kWaiterStack = std::size_t{256} * 1024;

// The names of the temporary files one thread has made and not yet renamed
// or removed (at most one at a time, as a thread converts one file at a
// time). Each thread has its own, so that threads never wait for each other.
struct Names {
  std::mutex lock;
  std::vector<std::string> names;
};

// What the waiting thread and every worker reach, so it belongs to the
// process; it is never destroyed, so that a signal during the process's exit
// still finds it whole.
struct Registry {
  std::mutex threads_lock;    // guards the list of threads' names
  std::deque<Names> threads;  // one per thread that ever named a file
  sigset_t handled{};         // the interrupt signals the waiting thread takes
  sigset_t waited{};          // those, and the signal that tells it the command is done
  pthread_t waiter{};
  bool waiting = false;             // the waiting thread runs
  std::atomic<int> exit_status{0};  // the command's status, once done
};

// Sent by the command to the waiting thread once it is done. A real-time
// signal: where an interrupt is pending too, sigwait takes the interrupt first.
int done_signal() {
  return SIGRTMIN;
}

Registry& registry() {
  static auto* const kRegistry = new Registry;
  return *kRegistry;
}

Names& names_of_this_thread() {
  thread_local Names* own = nullptr;
  if (own == nullptr) {
    Registry& shared = registry();
    std::lock_guard held(shared.threads_lock);
    own = &shared.threads.emplace_back();
  }
  return *own;
}

// Removes the named temporary files and ends the process by signal_number,
// with every lock kept, so that no worker names another file meanwhile.
[[noreturn]] void die_by(int signal_number) {
  Registry& shared = registry();
  shared.threads_lock.lock();
  for (Names& thread : shared.threads) {
    thread.lock.lock();
    for (const std::string& name : thread.names) ::unlink(name.c_str());
  }
  std::signal(signal_number, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);  // not reached: the signal's default action ends the process
}

extern "C" void* start_thread(void* work) {
  (*static_cast<const std::function<void()>*>(work))();
  return nullptr;
}

extern "C" void* wait_for_interrupt(void* /*unused*/) {
  Registry& shared = registry();
  int signal_number = 0;
  while (::sigwait(&shared.waited, &signal_number) != 0) {
  }
  if (signal_number == done_signal()) std::exit(shared.exit_status.load());
  die_by(signal_number);
}

}  // namespace

unsigned processor_count() {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
    return static_cast<unsigned>(CPU_COUNT(&allowed));
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

void run_on_threads(unsigned threads, const std::function<void()>& work) {
  std::vector<pthread_t> started;
  started.reserve(threads > 0 ? threads - 1 : 0);
  for (unsigned i = 1; i < threads; ++i) {
    pthread_t thread{};
    // Out of memory or processes: the threads already running do the work.
    if (::pthread_create(&thread, nullptr, start_thread,
                         const_cast<std::function<void()>*>(&work)) != 0)
      break;
    started.push_back(thread);
  }
  work();
  for (pthread_t thread : started) ::pthread_join(thread, nullptr);
}

void handle_interrupts() {
  std::signal(SIGXFSZ, SIG_IGN);
  Registry& shared = registry();
  sigset_t& handled = shared.handled;
  sigemptyset(&handled);
  for (int signal_number : kInterruptSignals) {
    struct sigaction previous {};
    // Linux keeps a blocked signal pending even when it is ignored, so an
    // ignored one is left out rather than waited for.
    if (::sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
      sigaddset(&handled, signal_number);
  }
  shared.waited = handled;
  sigaddset(&shared.waited, done_signal());
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &shared.waited, &before);
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  ::pthread_attr_setstacksize(&attributes, kWaiterStack);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  shared.waiting = ::pthread_create(&shared.waiter, &attributes, wait_for_interrupt, nullptr) == 0;
  ::pthread_attr_destroy(&attributes);
  if (shared.waiting) return;
  sigemptyset(&handled);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void end_command(int status) {
  Registry& shared = registry();
  if (!shared.waiting) std::exit(status);
  shared.exit_status.store(status);
  // To the whole process, as interrupts come: sigwait takes a signal sent to
  // its own thread before any sent to the process, which could put the done
  // signal before an interrupt already there.
  ::kill(::getpid(), done_signal());
  for (;;) ::pause();
}

int name_registered(const std::string& name, const std::function<int()>& give_name) {
  Names& own = names_of_this_thread();
  std::lock_guard held(own.lock);
  const int error = give_name();
  if (error == 0) own.names.push_back(name);
  return error;
}

void forget_name(const std::string& name) {
  Names& own = names_of_this_thread();
  std::lock_guard held(own.lock);
  auto found = std::find(own.names.begin(), own.names.end(), name);
  if (found != own.names.end()) own.names.erase(found);
}

void end_on_broken_pipe(int error) {
  if (error != EPIPE || sigismember(&registry().handled, SIGPIPE) != 1) return;
  // The write raised SIGPIPE for this thread, where it stays blocked; the
  // waiting thread takes only signals sent to the whole process.
  ::kill(::getpid(), SIGPIPE);
  for (;;) ::pause();
}

void stop_before_commit() {
#ifdef BREVLO_STOP_BEFORE_COMMIT
  ::raise(SIGSTOP);
#endif
}

}  // namespace brevlo::platform
