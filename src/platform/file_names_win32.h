// Where a file name becomes the system's on Windows. The exported functions
// take names in the process's ANSI code page, as the DLL's contract says
// (file_names_ansi_win32.cpp); the brevlo command takes them as UTF-8, so that
// every Unicode name reaches it (file_names_utf8_win32.cpp). The platform
// layer (platform_win32.cpp) opens every file by name through this one call,
// and each program links the one of the two it needs.
#pragma once

#include <windows.h>

namespace brevlo::platform {

// CreateFile for path, with no security attributes or template file; access,
// share, disposition and flags are CreateFile's own.
HANDLE create_file_named(const char* path, DWORD access, DWORD share, DWORD disposition,
                         DWORD flags);

}  // namespace brevlo::platform
