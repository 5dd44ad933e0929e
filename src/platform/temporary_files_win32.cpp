// Whole files on Windows (see command_platform.h). A BMP is written into a
// temporary file beside its output, named .brevlo-PID-N.tmp and marked for
// deletion from the moment it exists (FileDispositionInfo), so that the
// system removes it when its handle closes, whatever ends the process: a
// failure, an interrupt, a crash or TerminateProcess. Once the BMP is complete
// and its destination checked, the mark is taken off and the open file is
// renamed over its output through the same handle, replacing a file there
// only when asked, in one step that an interrupt waits for.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <vector>

#include "platform/command_platform.h"
#include "platform/handles_win32.h"
#include "platform/unicode_win32.h"
#include "platform/uninterrupted_win32.h"

namespace brevlo::platform {

namespace {

constexpr int kNameAttempts = 100;

std::atomic<unsigned> temporaries_named{0};

// A hidden name in folder ("" for the current one) that no other file is
// likely to have: this process's id and a count of the names it made.
std::wstring temporary_name_in(const std::wstring& folder) {
  std::wstring leaf = L".brevlo-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                      std::to_wstring(temporaries_named.fetch_add(1)) + L".tmp";
  if (folder.empty()) return leaf;
  const wchar_t last = folder.back();
  return last == L'\\' || last == L'/' ? folder + leaf : folder + L'\\' + leaf;
}

std::wstring folder_of(const std::string& target) {
  return std::filesystem::path(to_utf16(target)).parent_path().wstring();
}

int mark_for_deletion(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0
             ? 0
             : static_cast<int>(::GetLastError());
}

// Creates a new file under a fresh temporary name in folder, marked for
// deletion before anything else can happen to the process. Returns 0 or the
// system's error number.
int create_marked(const std::wstring& folder, DWORD flags, HANDLE& file, std::wstring& name) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    name = temporary_name_in(folder);
    const int error = run_uninterrupted([&] {
      file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                           nullptr, CREATE_NEW, flags, nullptr);
      if (file == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
      const int marked = mark_for_deletion(file, true);
      if (marked != 0) {
        ::CloseHandle(file);
        ::DeleteFileW(name.c_str());
      }
      return marked;
    });
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

// The rename of an open file to target, as SetFileInformationByHandle takes
// it: a full path, its length in bytes, and a terminating NUL after it.
std::vector<unsigned char> rename_to(const std::string& target, bool replace) {
  const std::wstring wide = to_utf16(target);
  std::wstring full(MAX_PATH, L'\0');
  DWORD length =
      ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = ::GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  }
  full.resize(length == 0 ? 0 : length);
  if (full.empty()) full = wide;
  const std::size_t name_bytes = full.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(name_bytes);
  std::copy(full.begin(), full.end(), rename->FileName);
  return buffer;
}

// True when the file at target has the read-only attribute. Windows refuses
// to replace such a file, but not every file system says so (Wine, run by
// root, replaces it), so the command asks first.
bool is_read_only(const std::string& target) {
  const DWORD attributes = ::GetFileAttributesW(to_utf16(target).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Takes the mark off the complete file and renames it to target, or, when
// either fails, marks it again. Returns 0 or the system's error number.
int unmark_and_rename(HANDLE file, const std::string& target, bool replace) {
  std::vector<unsigned char> rename = rename_to(target, replace);
  return run_uninterrupted([&] {
    if (const int error = mark_for_deletion(file, false); error != 0) return error;
    if (::SetFileInformationByHandle(file, FileRenameInfo, rename.data(),
                                     static_cast<DWORD>(rename.size())) != 0)
      return 0;
    const int error = static_cast<int>(::GetLastError());
    mark_for_deletion(file, true);
    return error;
  });
}

}  // namespace

int create_temporary_beside(const std::string& target, TemporaryFile& temporary) {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring name;
  // A missing folder gives ERROR_PATH_NOT_FOUND, kNoSuchName.
  const int error = create_marked(folder_of(target), FILE_ATTRIBUTE_NORMAL, file, name);
  if (error != 0) return error;
  temporary.file = as_file(file);
  temporary.name = to_utf8(name);
  return 0;
}

int close_temporary(TemporaryFile& temporary) {
  temporary.written = identify(temporary.file);
  return 0;
}

int commit_temporary(TemporaryFile& temporary, const std::string& target, Commit commit) {
  const bool replace = commit != Commit::kNeverReplace;
  int error = ERROR_FILE_READ_ONLY;
  if (!replace || !is_read_only(target))
    error = unmark_and_rename(as_handle(temporary.file), target, replace);
  if (error == ERROR_FILE_EXISTS) error = kNameTaken;
  // Closing removes a file still marked; a renamed one keeps its new name.
  discard_temporary(temporary);
  return error;
}

void discard_temporary(TemporaryFile& temporary) {
  if (temporary.file != kNoFile) ::CloseHandle(as_handle(temporary.file));
  temporary.file = kNoFile;
  temporary.name.clear();
}

std::string spool_folder() {
  std::wstring folder(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  folder.resize(length <= folder.size() ? length : 0);
  // Without its final separator, as a folder is named in messages.
  if (folder.size() > 1 && folder.back() == L'\\' && folder[folder.size() - 2] != L':')
    folder.pop_back();
  return folder.empty() ? "." : to_utf8(folder);
}

int open_spool_file(FileHandle& spool) {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring name;
  const int error = create_marked(to_utf16(spool_folder()), FILE_ATTRIBUTE_TEMPORARY, file, name);
  if (error == 0) spool = as_file(file);
  return error;
}

}  // namespace brevlo::platform
