// The handful of operating-system services the converter needs: files by path,
// reads, writes and positioned writes on an open file, and blocks of working
// memory. One implementation per operating system; nothing else in the library
// includes a system header for files or memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevlo::platform {

// An open file. kNoFile means an open failed.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Opens the file for writing, creating it when missing, without truncating it
// (see truncate) and without waiting: a FIFO with no reader fails at once.
// Through a symbolic link, the file the link leads to is opened or created.
// Returns kNoFile on failure.
FileHandle open_for_writing(const char* path);

// Opens an existing file for writing without creating or truncating it and
// without waiting. Returns kNoFile on failure.
FileHandle reopen_for_writing(const char* path);

// The permission bits a file this project creates asks for on POSIX systems,
// before the process's umask narrows them, as other tools create files.
inline constexpr unsigned kNewFilePermissions = 0666;

// What a file is, beside where it is.
enum class FileKind : std::uint8_t {
  kUnknown,
  kRegular,
  kFolder,
  kLink,  // the name itself is a symbolic link (see command_platform.h)
  kPipe,  // a FIFO or pipe
  kCharacterDevice,
  kBlockDevice,
  kSocket,
};

// Which file an open handle is on: its volume and its index there (device and
// inode on POSIX, volume serial and file index on Windows), and what it was
// when looked at.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;  // bytes, for a regular file
  bool known = false;      // false when the system could not say
  FileKind kind = FileKind::kUnknown;
  // POSIX permission bits (07777) and owning user and group; 0 on Windows.
  std::uint32_t permissions = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};

FileIdentity identify(FileHandle file);

// True for a regular file on a disk: not a device, FIFO, folder or link.
inline bool is_regular(const FileIdentity& identity) {
  return identity.kind == FileKind::kRegular;
}

// True when both identities are known and name the very same file.
inline bool same_file(const FileIdentity& first, const FileIdentity& second) {
  return first.known && second.known && first.volume == second.volume &&
         first.index == second.index;
}

// Opens an existing file for reading without waiting: a FIFO with no writer
// opens at once. Returns kNoFile on failure (missing, unreadable, or a
// directory: errno is then EISDIR on POSIX). Devices and FIFOs open too; whether the file can be
// positioned is the caller's to check. Fills identity, when given, with the file's.
FileHandle open_for_reading(const char* path, FileIdentity* identity = nullptr);

// The identity of the file path names, following symbolic links; not known
// when nothing is there.
FileIdentity identify_path(const char* path);

// Truncates the open file to no bytes. False on failure.
bool truncate(FileHandle file);

// Removes the name path when that name itself, not following links, is the
// regular file identified as written (now closed). A symbolic link is never
// removed, nor the file it leads to; devices, FIFOs and directories are never
// touched, and neither is a file someone else put at path meanwhile. The
// outcome is not reported.
void remove_written(const FileIdentity& written, const char* path);

// Reads up to count bytes at the current position. Returns the number read,
// 0 at the end of the file, or -1 on error.
std::int64_t read(FileHandle file, void* destination, std::uint32_t count);

// Writes count bytes at the current position. False unless all were written.
bool write(FileHandle file, const void* source, std::size_t count);

// Positions the file at offset bytes from its start. False on failure, and
// always for a pipe, FIFO or socket.
bool seek(FileHandle file, std::uint64_t offset);

// Writes count bytes at offset bytes from the file's start, as a seek and a
// write would, in one call where the system allows. False unless all were
// written; always false for a pipe, FIFO or socket.
bool write_at(FileHandle file, std::uint64_t offset, const void* source, std::size_t count);

// False when the process may not make file as large as size bytes (a
// file-size limit, which on POSIX would otherwise stop the process with
// SIGXFSZ); the system's error is then EFBIG. True otherwise.
bool may_grow_to(FileHandle file, std::uint64_t size);

// Closes the file. False when the system reports a failure, which for a file
// just written can mean that its last bytes never reached the disk; the handle
// is released either way.
bool close(FileHandle file);

// Obtains a block of size bytes, zero-filled when asked. Null when it cannot be
// had.
void* obtain(std::size_t size, bool zero_filled);

// Releases a block from obtain; null is ignored.
void release(void* block);

// The system's error number of the last call on this thread that failed
// (errno on POSIX, GetLastError() on Windows), for the calls above that report
// failure; obtain sets it too. Read straight after the failing call, before
// any other.
int last_error();

}  // namespace brevlo::platform
