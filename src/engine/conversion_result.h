// The outcome of every fallible step: 0 for success or one of the public result
// codes. The first nonzero result ends the conversion and travels straight up.
#pragma once

#include <cstdint>

#include "brevlo.h"

namespace brevlo {

using ConversionResult = std::uint16_t;

inline constexpr ConversionResult kSuccess = BREVLO_SUCCESS;
inline constexpr ConversionResult kOpenFailed = ERR_OPEN_FAILED;
inline constexpr ConversionResult kNoMemory = ERR_NO_MEMORY;
inline constexpr ConversionResult kBadGif = ERR_BAD_GIF;
inline constexpr ConversionResult kUnsupported = ERR_UNSUPPORTED;
inline constexpr ConversionResult kEmptyName = ERR_EMPTY_NAME;
inline constexpr ConversionResult kEarlyEnd = ERR_EARLY_END;

}  // namespace brevlo
