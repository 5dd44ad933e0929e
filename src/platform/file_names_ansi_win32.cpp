// Names in the process's ANSI code page, as CreateFileA reads them: the DLL's.
#include "platform/file_names_win32.h"

namespace brevlo::platform {

HANDLE create_file_named(const char* path, DWORD access, DWORD share, DWORD disposition,
                         DWORD flags) {
  return ::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
}

}  // namespace brevlo::platform
