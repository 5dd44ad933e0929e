// On Windows a FileHandle (platform.h) holds the system's HANDLE; these turn
// one into the other for the command's platform files.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace brevlo::platform {

inline HANDLE as_handle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);  // NOLINT(performance-no-int-to-ptr): it was a HANDLE
}

inline FileHandle as_file(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

}  // namespace brevlo::platform
