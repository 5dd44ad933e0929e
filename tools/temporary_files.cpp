#include "temporary_files.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace brevlo::cli {
namespace {

// More than the most conversions a run has in flight (-j 1024), plus the file
// standard input is spooled into.
constexpr int kSlots = 1100;
// SIGPIPE too: a reader of -v's lines that goes away (`| head -1`) ends the
// command like an interrupt, and must not leave temporary files either.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kNameAttempts = 100;

// The names of the temporary files that exist now. This is the one piece of
// state the threads share outside their run, because a signal handler can only
// reach state of the whole process. `busy` is a lock-free spin lock: a thread
// holds it only with the interrupt signals blocked, for one create, rename or
// remove, so the handler, which takes it and never gives it back, waits at
// most for another thread's single system call and never for its own thread.
struct Registry {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  std::array<char*, kSlots> names{};
};
Registry registry;
std::atomic<unsigned> temporaries_named{0};

extern "C" void remove_temporaries_and_exit(int signal_number) {
  while (registry.busy.test_and_set(std::memory_order_acquire)) {
  }
  for (const char* name : registry.names)
    if (name != nullptr) ::unlink(name);
  ::_exit(128 + signal_number);
}

sigset_t interrupt_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kInterruptSignals) sigaddset(&set, signal_number);
  return set;
}

// Blocks the interrupt signals on this thread and takes the lock; returns the
// signal mask to restore.
sigset_t lock_registry() {
  const sigset_t blocked = interrupt_signals();
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  while (registry.busy.test_and_set(std::memory_order_acquire)) ::sched_yield();
  return previous;
}

void unlock_registry(const sigset_t& previous) {
  registry.busy.clear(std::memory_order_release);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int free_slot() {
  for (int slot = 0; slot < kSlots; ++slot)
    if (registry.names[slot] == nullptr) return slot;
  return -1;
}

// Forgets the name of slot; the caller holds the lock.
void release_slot(Temporary& temporary) {
  std::free(registry.names[temporary.slot]);
  registry.names[temporary.slot] = nullptr;
  temporary.slot = -1;
}

// A hidden name in target's folder that no other file is likely to have:
// this process's id and a count of the names it made.
std::string temporary_name_for(const std::string& target) {
  const std::filesystem::path folder = std::filesystem::path(target).parent_path();
  const std::string leaf = ".brevlo-" + std::to_string(::getpid()) + "-" +
                           std::to_string(temporaries_named.fetch_add(1)) + ".tmp";
  return folder.empty() ? leaf : (folder / leaf).string();
}

// Creates name and registers it in one step, so that no interrupt can find
// the file without its name or the name without its file.
int create_registered(const std::string& name, unsigned mode, Temporary& temporary) {
  const sigset_t previous = lock_registry();
  int error = 0;
  const int slot = free_slot();
  char* copy = slot < 0 ? nullptr : ::strdup(name.c_str());
  if (copy == nullptr) {
    error = slot < 0 ? EMFILE : ENOMEM;
  } else {
    temporary.fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (temporary.fd < 0) {
      error = errno;
      std::free(copy);
    } else {
      registry.names[slot] = copy;
      temporary.slot = slot;
      temporary.name = name;
    }
  }
  unlock_registry(previous);
  return error;
}

// Renames without replacing anything, where the file system can; elsewhere a
// new link that fails on an existing name, then the old name removed.
int rename_without_replacing(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from, to) != 0) return errno;
  ::unlink(from);
  return 0;
}

}  // namespace

void remove_temporaries_on_interrupt() {
  struct sigaction action {};
  action.sa_handler = remove_temporaries_and_exit;
  action.sa_mask = interrupt_signals();
  for (int signal_number : kInterruptSignals) {
    struct sigaction previous {};
    // A signal the command was started with ignored (nohup) stays ignored.
    if (::sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
      continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

int create_temporary_beside(const std::string& target, unsigned mode, Temporary& temporary) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const int error = create_registered(temporary_name_for(target), mode, temporary);
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

int commit_temporary(Temporary& temporary, const std::string& target, bool replace) {
  const sigset_t previous = lock_registry();
  const char* from = temporary.name.c_str();
  int error = 0;
  if (replace)
    error = std::rename(from, target.c_str()) == 0 ? 0 : errno;
  else
    error = rename_without_replacing(from, target.c_str());
  if (error != 0) ::unlink(from);
  release_slot(temporary);
  unlock_registry(previous);
  return error;
}

void discard_temporary(Temporary& temporary) {
  if (temporary.fd >= 0) ::close(temporary.fd);
  temporary.fd = -1;
  if (temporary.slot < 0) return;
  const sigset_t previous = lock_registry();
  ::unlink(temporary.name.c_str());
  release_slot(temporary);
  unlock_registry(previous);
}

int open_nameless_file() {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || *folder == '\0') folder = "/tmp";
  const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // File systems without nameless files: a named one, removed at once.
  Temporary temporary;
  if (int error = create_temporary_beside(std::string(folder) + "/spool", 0600, temporary);
      error != 0) {
    errno = error;
    return -1;
  }
  const int kept = temporary.fd;
  temporary.fd = -1;
  discard_temporary(temporary);
  return kept;
}

}  // namespace brevlo::cli
