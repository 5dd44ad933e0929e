// File and memory operations on Windows, through KERNEL32. Paths are ANSI
// (the process code page) and passed to the system as given, with no length
// limit of our own.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace brevlo::platform {

namespace {

// The most one WriteFile call is asked to take; larger writes loop.
constexpr std::size_t kMaxWriteChunk = std::size_t{1} << 30;

HANDLE as_handle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle from_handle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// Opens path only to look at it: no read or write access, so it neither
// conflicts with nor blocks other openers. Directories open too.
HANDLE open_for_inspection(const char* path) {
  return ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_directory(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(handle, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_reparse_point(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(handle, &info) == 0 ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

FileKind kind_of(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileKind::kFolder;
  switch (::GetFileType(handle)) {
    case FILE_TYPE_DISK:
      return FileKind::kRegular;
    case FILE_TYPE_PIPE:
      return FileKind::kPipe;
    case FILE_TYPE_CHAR:
      return FileKind::kCharacterDevice;
    default:
      return FileKind::kUnknown;
  }
}

// The identity of what an inspection handle is on, closing the handle.
FileIdentity identify_and_close(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return {};
  const FileIdentity identity = identify(from_handle(handle));
  ::CloseHandle(handle);
  return identity;
}

}  // namespace

FileHandle open_for_reading(const char* path, FileIdentity* identity) {
  // Sharing reads and writes lets a GIF be converted while another program
  // holds it open, even for writing. Opening a pipe never waits for its other
  // end on Windows.
  HANDLE handle = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kNoFile;
  if (is_directory(handle)) {
    ::CloseHandle(handle);
    return kNoFile;
  }
  if (identity != nullptr) *identity = identify(from_handle(handle));
  return from_handle(handle);
}

FileHandle open_for_writing(const char* path) {
  return from_handle(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle reopen_for_writing(const char* path) {
  return from_handle(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileIdentity identify(FileHandle file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(as_handle(file), &info) == 0) return {};
  const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  const FileKind kind = kind_of(as_handle(file), info.dwFileAttributes);
  const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return {info.dwVolumeSerialNumber, index, kind == FileKind::kRegular ? size : 0, true, kind};
}

FileIdentity identify_path(const char* path) {
  return identify_and_close(open_for_inspection(path));
}

bool truncate(FileHandle file) {
  return seek(file, 0) && ::SetEndOfFile(as_handle(file)) != 0;
}

void remove_written(const FileIdentity& written, const char* path) {
  if (!is_regular(written)) return;
  // The name itself, not what a link leads to, opened for deletion; the file
  // is deleted through that very handle once it is known to be the one written.
  HANDLE handle =
      ::CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  if (!is_reparse_point(handle) && same_file(identify(from_handle(handle)), written)) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
  }
  ::CloseHandle(handle);
}

std::int64_t read(FileHandle file, void* destination, std::uint32_t count) {
  DWORD got = 0;
  if (::ReadFile(as_handle(file), destination, count, &got, nullptr) != 0) return got;
  // A pipe whose writer has gone has simply ended.
  return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

bool write(FileHandle file, const void* source, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(source);
  while (count > 0) {
    const auto chunk = static_cast<DWORD>(count < kMaxWriteChunk ? count : kMaxWriteChunk);
    DWORD put = 0;
    if (::WriteFile(as_handle(file), bytes, chunk, &put, nullptr) == 0 || put == 0) return false;
    bytes += put;
    count -= put;
  }
  return true;
}

bool seek(FileHandle file, std::uint64_t offset) {
  // The system does not refuse to position a pipe; it has no positions.
  if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
      ::GetFileType(as_handle(file)) == FILE_TYPE_PIPE)
    return false;
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(as_handle(file), distance, nullptr, FILE_BEGIN) != 0;
}

bool write_at(FileHandle file, std::uint64_t offset, const void* source, std::size_t count) {
  return seek(file, offset) && write(file, source, count);
}

bool may_grow_to(FileHandle, std::uint64_t) {
  return true;  // Windows sets no file-size limit on a process
}

bool close(FileHandle file) {
  return ::CloseHandle(as_handle(file)) != 0;
}

void* obtain(std::size_t size, bool zero_filled) {
  void* block = ::HeapAlloc(::GetProcessHeap(), zero_filled ? HEAP_ZERO_MEMORY : 0, size);
  // HeapAlloc sets no error of its own.
  if (block == nullptr) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

void release(void* block) {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

int last_error() {
  return static_cast<int>(::GetLastError());
}

}  // namespace brevlo::platform
