// The command's file operations on Windows: names, links and folder listings
// through the wide API, streams and devices written in place, what a
// replacing file keeps of the one it replaces, and the system's errors in
// words. Names are UTF-8 here and UTF-16 for the system.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cwctype>
#include <filesystem>
#include <iterator>
#include <string_view>

#include "platform/command_platform.h"
#include "platform/handles_win32.h"
#include "platform/unicode_win32.h"

namespace brevlo::platform {

namespace {

constexpr std::size_t kCopyChunk = std::size_t{64} * 1024;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attributes a replacing file takes over from the one it replaces. A
// read-only file is never replaced (temporary_files_win32.cpp).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Errors said as the POSIX build says them, so that a message reads the same
// on both systems; the rest in the system's own words.
struct ErrorWords {
  DWORD error;
  std::string_view words;
};

constexpr ErrorWords kErrorWords[] = {
    {ERROR_FILE_NOT_FOUND, "No such file or directory"},
    {ERROR_PATH_NOT_FOUND, "No such file or directory"},
    {ERROR_TOO_MANY_OPEN_FILES, "Too many open files"},
    {ERROR_ACCESS_DENIED, "Permission denied"},
    {ERROR_NOT_ENOUGH_MEMORY, "Cannot allocate memory"},
    {ERROR_OUTOFMEMORY, "Cannot allocate memory"},
    {ERROR_WRITE_PROTECT, "Read-only file system"},
    {ERROR_HANDLE_DISK_FULL, "No space left on device"},
    {ERROR_DISK_FULL, "No space left on device"},
    {ERROR_FILE_EXISTS, "File exists"},
    {ERROR_ALREADY_EXISTS, "File exists"},
    {ERROR_BROKEN_PIPE, "Broken pipe"},
    {ERROR_NO_DATA, "Broken pipe"},
    {ERROR_DIRECTORY, "Not a directory"},
    {static_cast<DWORD>(kIsAFolder), "Is a directory"},
    {static_cast<DWORD>(kTooManyLinks), "Too many levels of symbolic links"},
    {ERROR_FILE_READ_ONLY, "Read-only file"},
    {static_cast<DWORD>(kNameTooLong), "File name too long"},
};

// The system's words for error, without the full stop and line end it ends
// with.
std::string system_words(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words(text != nullptr ? text : L"", length);
  ::LocalFree(text);
  while (!words.empty() && (words.back() == L'.' || std::iswspace(words.back()) != 0))
    words.pop_back();
  return words.empty() ? "Windows error " + std::to_string(error) : to_utf8(words);
}

HANDLE open_name(const std::string& path, DWORD access, DWORD flags) {
  return ::CreateFileW(to_utf16(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// A reparse point that stands for another name: a symbolic link or a
// junction. Wine lists a link to a folder as a reparse point with no tag.
bool is_link(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (IsReparseTagNameSurrogate(tag) || tag == 0);
}

// The name with "\\?\" taken off, as GetFinalPathNameByHandle gives it, and a
// network path's "\\?\UNC\server" given back as "\\server".
std::wstring without_long_prefix(std::wstring name) {
  constexpr std::wstring_view kLong = L"\\\\?\\";
  constexpr std::wstring_view kNetwork = L"UNC\\";
  if (name.compare(0, kLong.size(), kLong) != 0) return name;
  name.erase(0, kLong.size());
  if (name.compare(0, kNetwork.size(), kNetwork) == 0) name.replace(0, kNetwork.size(), L"\\\\");
  return name;
}

int make_folders_wide(const std::filesystem::path& folder) {
  if (::CreateDirectoryW(folder.c_str(), nullptr) != 0) return 0;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    const bool is_folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return is_folder ? 0 : static_cast<int>(error);
  }
  const std::filesystem::path parent = folder.parent_path();
  if (error != ERROR_PATH_NOT_FOUND || parent.empty() || parent == folder)
    return static_cast<int>(error);
  if (const int made = make_folders_wide(parent); made != 0) return made;
  return ::CreateDirectoryW(folder.c_str(), nullptr) != 0 ? 0 : static_cast<int>(::GetLastError());
}

// A listing in progress: FindFirstFileExW gives the first entry with the
// search itself.
struct Search {
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW found{};
  bool pending = false;  // found holds an entry not yet read
};

FileKind kind_of_entry(const WIN32_FIND_DATAW& found) {
  if (is_link(found.dwFileAttributes, found.dwReserved0)) return FileKind::kLink;
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kFolder
                                                                  : FileKind::kRegular;
}

std::string path_in(const std::string& folder, const std::string& name) {
  const char last = folder.empty() ? '\\' : folder.back();
  return last == '\\' || last == '/' ? folder + name : folder + '\\' + name;
}

}  // namespace

std::string describe_error(int error) {
  const auto code = static_cast<DWORD>(error);
  const auto* found = std::find_if(std::begin(kErrorWords), std::end(kErrorWords),
                                   [code](const ErrorWords& row) { return row.error == code; });
  return found != std::end(kErrorWords) ? std::string(found->words) : system_words(code);
}

bool is_out_of_open_files(int error) {
  return error == ERROR_TOO_MANY_OPEN_FILES;
}

// A name that is a link is described as one; any other is identify_path's.
FileIdentity identify_name(const char* path) {
  HANDLE handle = open_name(path, FILE_READ_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return {};
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool link =
      ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) != 0 &&
      is_link(tag.FileAttributes, tag.ReparseTag);
  FileIdentity identity;
  if (link) {
    identity = identify(as_file(handle));
    identity.kind = FileKind::kLink;
  }
  ::CloseHandle(handle);
  return link ? identity : identify_path(path);
}

// Where a link leads in the end: the final name of the file it reaches.
int read_link(const std::string& path, std::string& leads_to) {
  HANDLE handle = open_name(path, 0, 0);
  if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  std::wstring name(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                             FILE_NAME_NORMALIZED);
  if (length >= name.size()) {
    name.resize(length);
    length = ::GetFinalPathNameByHandleW(handle, name.data(), length, FILE_NAME_NORMALIZED);
  }
  const int error = length == 0 ? static_cast<int>(::GetLastError()) : 0;
  ::CloseHandle(handle);
  if (error != 0) return error;
  name.resize(length);
  leads_to = to_utf8(without_long_prefix(name));
  return 0;
}

int make_folders(const std::string& path) {
  return make_folders_wide(std::filesystem::path(to_utf16(path)));
}

std::string current_folder() {
  const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(needed, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(needed, folder.data());
  if (length == 0 || length >= needed) return "";
  folder.resize(length);
  return to_utf8(folder);
}

std::string name_as_compared(const std::string& name) {
  const std::wstring wide = to_utf16(name);
  if (wide.empty()) return name;
  std::wstring upper(wide.size(), L'\0');
  const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                     static_cast<int>(wide.size()), upper.data(),
                                     static_cast<int>(upper.size()), nullptr, nullptr, 0);
  return length > 0 ? to_utf8(std::wstring_view(upper.data(), static_cast<std::size_t>(length)))
                    : name;
}

int open_folder(const std::string& path, FolderListing& listing) {
  auto* search = new Search;
  const std::wstring pattern = to_utf16(path_in(path, "*"));
  search->handle = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &search->found,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  search->pending = search->handle != INVALID_HANDLE_VALUE;
  const DWORD error = search->pending ? 0 : ::GetLastError();
  // A folder with no entry at all (the root of an empty drive) matches nothing.
  if (error != 0 && error != ERROR_FILE_NOT_FOUND) {
    delete search;
    return static_cast<int>(error);
  }
  listing.handle = search;
  listing.path = path;
  return 0;
}

bool read_folder(FolderListing& listing, FolderEntry& entry, int& error) {
  auto* search = static_cast<Search*>(listing.handle);
  for (;;) {
    if (!search->pending) {
      const bool more = search->handle != INVALID_HANDLE_VALUE &&
                        ::FindNextFileW(search->handle, &search->found) != 0;
      if (!more) {
        const DWORD reason = search->handle != INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        error = reason == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(reason);
        return false;
      }
    }
    search->pending = false;
    const std::wstring_view name = search->found.cFileName;
    if (name == L"." || name == L"..") continue;
    entry.name = to_utf8(name);
    entry.kind = kind_of_entry(search->found);
    entry.leads_to = entry.kind == FileKind::kLink
                         ? identify_path(path_in(listing.path, entry.name).c_str()).kind
                         : entry.kind;
    error = 0;
    return true;
  }
}

void close_folder(FolderListing& listing) {
  auto* search = static_cast<Search*>(listing.handle);
  if (search != nullptr && search->handle != INVALID_HANDLE_VALUE) ::FindClose(search->handle);
  delete search;
  listing.handle = nullptr;
}

int open_to_read(const char* path, FileHandle& file, FileIdentity& identity) {
  file = open_for_reading(path, &identity);
  if (file != kNoFile) return 0;
  const int error = static_cast<int>(::GetLastError());
  return identify_path(path).kind == FileKind::kFolder ? kIsAFolder : error;
}

int open_stream_for_writing(const char* path, FileHandle& stream) {
  HANDLE handle =
      ::CreateFileW(to_utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
  stream = as_file(handle);
  return 0;
}

int close_reporting(FileHandle file) {
  return ::CloseHandle(as_handle(file)) != 0 ? 0 : static_cast<int>(::GetLastError());
}

// A named pipe whose every instance is busy is waited for, as a FIFO waits
// for its writer on POSIX; a folder is said to be one, as reading it says on
// POSIX.
int open_list(const char* path, FileHandle& list) {
  const std::wstring name = to_utf16(path);
  for (;;) {
    HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      list = as_file(handle);
      return 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_BUSY && ::WaitNamedPipeW(name.c_str(), NMPWAIT_WAIT_FOREVER) != 0)
      continue;
    return identify_path(path).kind == FileKind::kFolder ? kIsAFolder : static_cast<int>(error);
  }
}

int read_list(FileHandle list, void* destination, std::uint32_t count, std::uint32_t& got) {
  DWORD read_now = 0;
  const bool read = ::ReadFile(as_handle(list), destination, count, &read_now, nullptr) != 0;
  got = read ? read_now : 0;
  const DWORD error = read ? 0 : ::GetLastError();
  // A pipe whose writer has gone has simply ended.
  return error == ERROR_BROKEN_PIPE ? 0 : static_cast<int>(error);
}

// The offset goes with the call, so that threads reading at once each read
// their own bytes; on a handle opened for synchronous use the file's position
// then moves to the end of what was read.
std::int64_t read_at(FileHandle file, std::uint64_t offset, void* destination,
                     std::uint32_t count) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (::ReadFile(as_handle(file), destination, count, &got, &at) != 0) return got;
  return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

// Windows gives a new file no owner or permission bits to read beforehand.
NewFileDefaults read_new_file_defaults() {
  return {};
}

void carry_over(FileHandle file, const FileIdentity& old, const NewFileDefaults& /*created*/) {
  const DWORD kept = old.attributes & kKeptAttributes;
  if (kept == 0) return;
  FILE_BASIC_INFO basic{};  // times of 0 stay as they are
  basic.FileAttributes = kept | FILE_ATTRIBUTE_ARCHIVE;
  ::SetFileInformationByHandle(as_handle(file), FileBasicInfo, &basic, sizeof basic);
}

int copy_to_stream(FileHandle spool, FileHandle stream) {
  if (!seek(spool, 0)) return static_cast<int>(::GetLastError());
  std::array<char, kCopyChunk> buffer{};
  for (;;) {
    const std::int64_t got = read(spool, buffer.data(), buffer.size());
    if (got <= 0) return got < 0 ? static_cast<int>(::GetLastError()) : 0;
    if (!write(stream, buffer.data(), static_cast<std::size_t>(got)))
      return static_cast<int>(::GetLastError());
  }
}

}  // namespace brevlo::platform
