// The handful of operating-system services the converter needs: files by path,
// reads, writes and absolute seeks on an open file, and blocks of working memory.
// One implementation per operating system; nothing else in the library includes
// a system header for files or memory.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brevlo::platform {

// An open file. kNoFile means an open or create failed.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Opens an existing regular file for reading. Returns kNoFile on failure
// (missing, unreadable, or a directory).
FileHandle open_for_reading(const char* path);

// Creates the file for writing, truncating an existing one. Returns kNoFile on
// failure.
FileHandle create_for_writing(const char* path);

// True when both paths exist and name the very same file (same path, a hard
// link or a symbolic link to it).
bool names_same_file(const char* first, const char* second);

// Deletes the file at path when it is a regular file; devices, directories and
// anything else are left alone. The outcome is not reported.
void delete_regular_file(const char* path);

// Reads up to count bytes at the current position. Returns the number read,
// 0 at the end of the file, or -1 on error.
std::int64_t read(FileHandle file, void* destination, std::uint32_t count);

// Writes count bytes at the current position. False unless all were written.
bool write(FileHandle file, const void* source, std::size_t count);

// Positions the file at offset bytes from its start. False on failure.
bool seek(FileHandle file, std::uint64_t offset);

void close(FileHandle file);

// Obtains a block of size bytes, zero-filled when asked. Null when it cannot be
// had.
void* obtain(std::size_t size, bool zero_filled);

// Releases a block from obtain; null is ignored.
void release(void* block);

}  // namespace brevlo::platform
