#include "volume/MasterDirectoryBlock.h"

#include <algorithm>
#include <cstring>

#include "text/ByteReader.h"

namespace kestrow {

std::string MasterDirectoryBlock::VolumeName() const {
  constexpr std::size_t kNameOffset = 36;
  constexpr std::size_t kNameMax = 27;
  const std::size_t length = std::min<std::size_t>(bytes[kNameOffset], kNameMax);
  return std::string(bytes.begin() + kNameOffset + 1, bytes.begin() + kNameOffset + 1 + length);
}

bool ParseMasterDirectoryBlock(std::span<const std::uint8_t> image, MasterDirectoryBlock& mdb) {
  const ByteReader reader(image);
  if (!reader.has(format::kMdbOffset, format::kMdbSize) || !reader.matches(format::kMdbOffset, "BD")) return false;
  std::memcpy(mdb.bytes.data(), image.data() + format::kMdbOffset, format::kMdbSize);
  return true;
}

}  // namespace kestrow
