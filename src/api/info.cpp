// BREVLOInfo: hands out the library's one-line information text.
#include <cstring>
#include <string_view>

#include "brevlo.h"

namespace {

constexpr std::string_view kInfoText =
    "brevlo is a 32-bit image file converter from GIF to 8-bit palettised Windows BMP.  "
    "Version 1.0, released December 2026.  "
    "Provided as is, without warranty of any kind.";

}  // namespace

extern "C" BREVLO_API int32_t BREVLO_CALL BREVLOInfo(char* buffer, int32_t size) {
  const auto length = static_cast<int32_t>(kInfoText.size());
  if (length > size || buffer == nullptr) return length;
  std::memset(buffer, ' ', static_cast<std::size_t>(size));
  std::memcpy(buffer, kInfoText.data(), kInfoText.size());
  return 0;
}
