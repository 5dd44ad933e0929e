// Names on Windows: the system's are UTF-16, the command's UTF-8 (as
// command_platform.h says). The two conversions between them, and the name a
// wide call is given for a UTF-8 path.
#pragma once

#include <string>
#include <string_view>

namespace brevlo::platform {

// UTF-8 as UTF-16. A byte that is not UTF-8 becomes U+FFFD, the replacement
// character, which names no file the command was given.
std::wstring to_utf16(std::string_view text);

// UTF-16 as UTF-8. A lone surrogate, which UTF-8 cannot hold, becomes U+FFFD.
std::string to_utf8(std::wstring_view text);

}  // namespace brevlo::platform
