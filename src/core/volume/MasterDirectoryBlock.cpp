#include "volume/MasterDirectoryBlock.h"

#include <algorithm>

namespace kestrow {

std::string MasterDirectoryBlock::VolumeName() const {
  constexpr std::size_t kNameOffset = 36;
  constexpr std::size_t kNameMax = 27;
  const std::size_t length = std::min<std::size_t>(bytes[kNameOffset], kNameMax);
  return std::string(bytes.begin() + kNameOffset + 1, bytes.begin() + kNameOffset + 1 + length);
}

}  // namespace kestrow
