// Names as UTF-8, opened through the wide API: the brevlo command's.
#include "platform/file_names_win32.h"
#include "platform/unicode_win32.h"

namespace brevlo::platform {

HANDLE create_file_named(const char* path, DWORD access, DWORD share, DWORD disposition,
                         DWORD flags) {
  return ::CreateFileW(to_utf16(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

}  // namespace brevlo::platform
