// The volume size text: sector count and size, in KB up to 512 sectors and
// in MB from 513 on. Every sector counts as 2 KB.
#pragma once

#include <cstdint>
#include <string>

namespace kestrow {

std::string FormatVolumeSize(std::int32_t sectorCount);

}  // namespace kestrow
