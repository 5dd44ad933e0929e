// Whole files on POSIX systems: temporary files without a name where Linux
// allows (O_TMPFILE), named ones elsewhere, and how each takes its name (see
// command_platform.h).
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/command_platform.h"
#include "platform/hidden_names_posix.h"

namespace brevlo::platform {

namespace {

constexpr int kNameAttempts = 100;
constexpr unsigned kSpoolPermissions = 0600;

std::atomic<unsigned> temporaries_named{0};

int descriptor(FileHandle file) {
  return static_cast<int>(file);
}

// Every process can name a file made with O_TMPFILE through its entry in
// /proc/self/fd (see link_nameless); without /proc, every temporary file is
// named from the start.
bool can_name_nameless_files() {
  static const bool kProcMounted = ::access("/proc/self/fd", X_OK) == 0;
  return kProcMounted;
}

std::string folder_of(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// A hidden name in target's folder that no other file is likely to have:
// this process's id and a count of the names it made.
std::string temporary_name_for(const std::string& target) {
  static const std::string kPrefix = ".brevlo-" + std::to_string(::getpid()) + "-";
  const std::string leaf = kPrefix + std::to_string(temporaries_named.fetch_add(1)) + ".tmp";
  const std::string folder = std::filesystem::path(target).parent_path().string();
  return folder.empty() ? leaf : folder + "/" + leaf;
}

// Opens a file with no name in folder; -1 with errno set when the file
// system cannot make one (EOPNOTSUPP, or EISDIR and EINVAL from older
// kernels) or for any other reason.
int open_nameless_in(const std::string& folder, unsigned permissions) {
  if (!can_name_nameless_files()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, permissions);
}

bool nameless_unsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Creates a new, registered file under a fresh temporary name beside target.
int create_named(const std::string& target, unsigned permissions, TemporaryFile& temporary) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = temporary_name_for(target);
    const int error = name_registered(name, [&] {
      temporary.file = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
      return temporary.file == kNoFile ? errno : 0;
    });
    if (error == 0) temporary.name = name;
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

std::string descriptor_link(FileHandle file) {
  return "/proc/self/fd/" + std::to_string(file);
}

// Gives the open nameless file the name `name`: by its descriptor where the
// kernel lets any process link a file it opened that way (Linux 6.10 on, or
// with CAP_DAC_READ_SEARCH), a shorter call, and else through its entry in
// /proc, which works for every process; the first refusal settles which.
int link_nameless(FileHandle file, const std::string& name) {
  static std::atomic<bool> by_descriptor{true};
  if (by_descriptor.load(std::memory_order_relaxed)) {
    if (::linkat(descriptor(file), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != EPERM && errno != ENOENT) return errno;
    by_descriptor.store(false, std::memory_order_relaxed);
  }
  return ::linkat(AT_FDCWD, descriptor_link(file).c_str(), AT_FDCWD, name.c_str(),
                  AT_SYMLINK_FOLLOW) == 0
             ? 0
             : errno;
}

// Renames a registered temporary name to target, replacing what is there or,
// without replace, never: where the file system cannot refuse in the rename
// itself, a new link fails on an existing name instead, and the temporary
// name is removed after it. The temporary name is gone afterwards, whatever
// happened.
int rename_registered(const std::string& name, const std::string& target, bool replace) {
  int error = 0;
  bool linked = false;
  if (replace) {
    error = std::rename(name.c_str(), target.c_str()) == 0 ? 0 : errno;
  } else if (::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    error = errno;
    if (error == EINVAL || error == ENOSYS) {
      linked = ::link(name.c_str(), target.c_str()) == 0;
      error = linked ? 0 : errno;
    }
  }
  if (error != 0 || linked) ::unlink(name.c_str());
  forget_name(name);
  return error;
}

// Gives the nameless temporary file a fresh hidden name beside target, so
// that it can be renamed over a file there.
int give_hidden_name(TemporaryFile& temporary, const std::string& target) {
  const std::string hidden = temporary_name_for(target);
  const int error = name_registered(hidden, [&] { return link_nameless(temporary.file, hidden); });
  if (error == 0) temporary.name = hidden;
  return error;
}

// Closes a temporary file that has a name; when the close fails, which can
// mean that bytes were lost, removes the file. Returns 0 or the error.
int close_named(TemporaryFile& temporary) {
  const bool closed = ::close(descriptor(temporary.file)) == 0;
  const int error = closed ? 0 : errno;
  temporary.file = kNoFile;
  if (!closed) discard_temporary(temporary);
  return error;
}

int rename_temporary(TemporaryFile& temporary, const std::string& target, bool replace) {
  const int error = rename_registered(temporary.name, target, replace);
  temporary.name.clear();
  return error;
}

// Closes a duplicate of the file's descriptor: a file system that stores
// bytes only at a close (NFS, FUSE, quotas) reports there any it lost, as at
// every close, while the file itself stays open and so without a name.
// Returns 0 or the error.
int close_a_duplicate(FileHandle file) {
  const int duplicate = ::fcntl(descriptor(file), F_DUPFD_CLOEXEC, 0);
  if (duplicate < 0) return errno;
  return ::close(duplicate) == 0 ? 0 : errno;
}

// Replaces the file at target with the complete nameless temporary file.
// Linux renames only a file that has a name, so it takes a hidden one for
// the rename alone, after every other step; the file stays open until then,
// and a close that could report lost bytes has already been made on a
// duplicate while the old file was still in place. One thread at a time
// links and renames: a rename over a file on ext4 first writes the new
// file's data out, holding the folder meanwhile, and another thread's link
// into that folder would wait inside the system call, where a SIGKILL
// cannot stop it before it makes the name but does before the rename.
// Waiting here instead, a killed thread makes no name at all.
int replace_with_nameless(TemporaryFile& temporary, const std::string& target) {
  static std::mutex one_rename_at_a_time;
  int error = close_a_duplicate(temporary.file);
  if (error != 0) return error;
  std::lock_guard held(one_rename_at_a_time);
  error = give_hidden_name(temporary, target);
  if (error == 0) error = rename_temporary(temporary, target, true);
  return error;
}

// A new nameless file takes its name with one link, which never replaces
// anything, and is closed after: a close that fails takes the name back.
// When the link fails the file stays open.
int link_new_nameless(TemporaryFile& temporary, const std::string& target) {
  if (const int error = link_nameless(temporary.file, target); error != 0) return error;
  const bool closed = ::close(descriptor(temporary.file)) == 0;
  const int close_error = errno;
  temporary.file = kNoFile;
  if (closed) return 0;
  remove_written(temporary.written, target.c_str());
  return close_error;
}

}  // namespace

int create_temporary_beside(const std::string& target, TemporaryFile& temporary) {
  temporary.file = open_nameless_in(folder_of(target), kNewFilePermissions);
  if (temporary.file != kNoFile) return 0;
  if (!nameless_unsupported(errno)) return errno;
  return create_named(target, kNewFilePermissions, temporary);
}

int close_temporary(TemporaryFile& temporary) {
  if (!temporary.name.empty()) return close_named(temporary);
  temporary.written = identify(temporary.file);
  return 0;
}

int commit_temporary(TemporaryFile& temporary, const std::string& target, Commit commit) {
  if (!temporary.name.empty())
    return rename_temporary(temporary, target, commit != Commit::kNeverReplace);
  int error = 0;
  if (commit == Commit::kReplace) {
    error = replace_with_nameless(temporary, target);
  } else {
    error = link_new_nameless(temporary, target);
    // A file that appeared at target since the run was planned.
    if (error == EEXIST && commit == Commit::kReplaceIfThere)
      error = replace_with_nameless(temporary, target);
  }
  // Closes a replacing file after its rename; its bytes were checked on the duplicate.
  discard_temporary(temporary);
  return error;
}

void discard_temporary(TemporaryFile& temporary) {
  if (temporary.file != kNoFile) ::close(descriptor(temporary.file));
  temporary.file = kNoFile;
  if (temporary.name.empty()) return;
  ::unlink(temporary.name.c_str());
  forget_name(temporary.name);
  temporary.name.clear();
}

std::string spool_folder() {
  const char* folder = std::getenv("TMPDIR");
  return folder == nullptr || *folder == '\0' ? "/tmp" : folder;
}

int open_spool_file(FileHandle& spool) {
  const std::string folder = spool_folder();
  spool = open_nameless_in(folder, kSpoolPermissions);
  if (spool != kNoFile) return 0;
  if (!nameless_unsupported(errno)) return errno;
  // File systems without nameless files: a named one, removed at once.
  TemporaryFile temporary;
  if (const int error = create_named(folder + "/spool", kSpoolPermissions, temporary); error != 0)
    return error;
  spool = temporary.file;
  temporary.file = kNoFile;
  discard_temporary(temporary);
  return 0;
}

}  // namespace brevlo::platform
