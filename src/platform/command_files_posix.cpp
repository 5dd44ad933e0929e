// The command's file operations on POSIX systems: names, links and folder
// listings, streams and devices written in place, the standard streams, and
// what a replacing file keeps of the one it replaces.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/broken_pipe_posix.h"
#include "platform/command_platform.h"

namespace brevlo::platform {

namespace {

constexpr std::size_t kCopyChunk = std::size_t{64} * 1024;

int as_descriptor(FileHandle file) {
  return static_cast<int>(file);
}

FileKind kind_of_entry(unsigned char type) {
  switch (type) {
    case DT_REG:
      return FileKind::kRegular;
    case DT_DIR:
      return FileKind::kFolder;
    case DT_LNK:
      return FileKind::kLink;
    case DT_FIFO:
      return FileKind::kPipe;
    case DT_CHR:
      return FileKind::kCharacterDevice;
    case DT_BLK:
      return FileKind::kBlockDevice;
    case DT_SOCK:
      return FileKind::kSocket;
    default:
      return FileKind::kUnknown;
  }
}

bool is_closed(int fd) {
  return ::fcntl(fd, F_GETFD) < 0 && errno == EBADF;
}

// Opens the null device (or, without one, the root folder) as descriptor fd,
// the lowest one free.
void occupy_with_null_device(int fd, int access) {
  int opened = ::open("/dev/null", access | O_CLOEXEC);
  if (opened < 0) opened = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (opened >= 0 && opened != fd) {
    ::dup2(opened, fd);
    ::close(opened);
  }
}

std::FILE* stdio_stream(TextStream stream) {
  return stream == TextStream::kOutput ? stdout : stderr;
}

}  // namespace

std::string describe_error(int error) {
  return std::strerror(error);
}

bool is_out_of_open_files(int error) {
  return error == EMFILE || error == ENFILE;
}

int read_link(const std::string& path, std::string& leads_to) {
  std::string buffer(PATH_MAX, '\0');
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      leads_to = std::move(buffer);
      return 0;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int make_folders(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return error.value();
}

std::string current_folder() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}

std::string name_as_compared(const std::string& name) {
  return name;
}

int open_folder(const std::string& path, FolderListing& listing) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return errno;
  listing.handle = folder;
  listing.path = path;
  return 0;
}

bool read_folder(FolderListing& listing, FolderEntry& entry, int& error) {
  auto* folder = static_cast<DIR*>(listing.handle);
  for (;;) {
    errno = 0;
    const dirent* found = ::readdir(folder);
    if (found == nullptr) {
      error = errno;
      return false;
    }
    const std::string_view name = found->d_name;
    if (name == "." || name == "..") continue;
    entry.name = name;
    entry.kind = kind_of_entry(found->d_type);
    // Where the listing does not say, or the name is a link, the file says.
    const std::string path = listing.path + "/" + entry.name;
    if (entry.kind == FileKind::kUnknown) entry.kind = identify_name(path.c_str()).kind;
    entry.leads_to = entry.kind == FileKind::kLink ? identify_path(path.c_str()).kind : entry.kind;
    error = 0;
    return true;
  }
}

void close_folder(FolderListing& listing) {
  if (listing.handle != nullptr) ::closedir(static_cast<DIR*>(listing.handle));
  listing.handle = nullptr;
}

int copy_to_stream(FileHandle spool, FileHandle stream) {
  if (::lseek(as_descriptor(spool), 0, SEEK_SET) != 0) return errno;
  std::array<char, kCopyChunk> buffer{};
  for (;;) {
    const std::int64_t got = read(spool, buffer.data(), buffer.size());
    if (got <= 0) return got < 0 ? errno : 0;
    errno = 0;
    if (!write(stream, buffer.data(), static_cast<std::size_t>(got))) {
      // A write that puts nothing sets no errno.
      const int error = errno != 0 ? errno : EIO;
      end_on_broken_pipe(error);
      return error;
    }
  }
}

int open_to_read(const char* path, FileHandle& file, FileIdentity& identity) {
  file = open_for_reading(path, &identity);
  return file == kNoFile ? errno : 0;
}

int close_reporting(FileHandle file) {
  return ::close(as_descriptor(file)) == 0 ? 0 : errno;
}

int open_list(const char* path, FileHandle& list) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  list = fd;
  return 0;
}

int read_list(FileHandle list, void* destination, std::uint32_t count, std::uint32_t& got) {
  const std::int64_t read_now = read(list, destination, count);
  got = read_now > 0 ? static_cast<std::uint32_t>(read_now) : 0;
  return read_now < 0 ? errno : 0;
}

std::int64_t read_at(FileHandle file, std::uint64_t offset, void* destination,
                     std::uint32_t count) {
  for (;;) {
    const ssize_t got =
        ::pread(as_descriptor(file), destination, count, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

int open_stream_for_writing(const char* path, FileHandle& stream) {
  const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  stream = fd;
  return 0;
}

NewFileDefaults read_new_file_defaults() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return {::geteuid(), ::getegid(), kNewFilePermissions & ~mask};
}

void carry_over(FileHandle file, const FileIdentity& old, const NewFileDefaults& created) {
  const int fd = as_descriptor(file);
  const bool owner_differs = old.owner != created.owner || old.group != created.group;
  // Only the owner or root may give a file away; otherwise it stays ours.
  [[maybe_unused]] const int given = owner_differs ? ::fchown(fd, old.owner, old.group) : 0;
  // A change of owner clears the set-user-ID and set-group-ID bits.
  if (owner_differs || old.permissions != created.permissions) ::fchmod(fd, old.permissions);
}

StandardStreams occupy_standard_streams() {
  StandardStreams closed;
  closed.input_closed = is_closed(STDIN_FILENO);
  if (closed.input_closed) occupy_with_null_device(STDIN_FILENO, O_WRONLY);
  closed.output_closed = is_closed(STDOUT_FILENO);
  if (closed.output_closed) occupy_with_null_device(STDOUT_FILENO, O_RDONLY);
  if (is_closed(STDERR_FILENO)) occupy_with_null_device(STDERR_FILENO, O_RDONLY);
  return closed;
}

FileHandle standard_input() {
  return STDIN_FILENO;
}

FileHandle standard_output() {
  return STDOUT_FILENO;
}

bool is_terminal(TextStream stream) {
  return ::isatty(stream == TextStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void write_text(TextStream stream, std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdio_stream(stream)) != text.size())
    end_on_broken_pipe(errno);
}

bool flush_standard_output(int& error) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  error = errno;
  end_on_broken_pipe(error);
  return false;
}

}  // namespace brevlo::platform
