#include "rawtools/VolumeSize.h"

#include <cstdio>

#include "text/Messages.h"

namespace kestrow {

std::string FormatVolumeSize(std::int32_t sectorCount) {
  // Kilobytes in 32-bit unsigned arithmetic; MB truncated, never rounded.
  const std::uint32_t kilobytes = static_cast<std::uint32_t>(sectorCount) * 2u;
  char text[96];
  if (kilobytes <= 1024) {
    std::snprintf(text, sizeof text, msg::kVolumeSizeKbFormat, sectorCount, static_cast<int>(kilobytes));
  } else {
    std::snprintf(text, sizeof text, msg::kVolumeSizeMbFormat, sectorCount, static_cast<int>(kilobytes >> 10));
  }
  return text;
}

}  // namespace kestrow
