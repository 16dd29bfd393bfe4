#include "HfsVolume.h"

#include <algorithm>

#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::mkdisc {
namespace {

constexpr std::size_t kExtentSize = 4;  // 16-bit start block, 16-bit block count

// The first allocation block past the catalogue file's extents.
std::uint64_t CatalogBlocksEnd(const ByteReader& mdb) {
  std::uint64_t end = 0;
  for (std::size_t i = 0; i < format::kMdbExtentCount; ++i) {
    const std::size_t extent = format::kMdbCatalogExtentsOffset + i * kExtentSize;
    const std::uint64_t start = mdb.be16(extent).value_or(0);
    const std::uint64_t count = mdb.be16(extent + 2).value_or(0);
    if (count > 0) end = std::max(end, start + count);
  }
  return end;
}

}  // namespace

bool CheckHfsVolume(std::span<const std::uint8_t> volume, HfsVolumeInfo& info, std::string& error) {
  const ByteReader reader(volume);
  const auto mdb = reader.sub(format::kMdbVolumeOffset, format::kMdbSize);
  if (!mdb || !mdb->matches(0, "BD")) {
    error = "not an HFS volume: no \"BD\" master directory block at byte 1024";
    return false;
  }
  const std::uint32_t blockStart = mdb->be16(format::kMdbAllocBlockStartOffset).value_or(0);
  if (std::uint64_t{blockStart} * format::kUnitSize != format::kAllocationBlock0) {
    error = "allocation block 0 lies at volume byte " + std::to_string(std::uint64_t{blockStart} * format::kUnitSize) +
            " (drAlBlSt " + std::to_string(blockStart) + "); the disc format needs byte " +
            std::to_string(format::kAllocationBlock0) + " (drAlBlSt 19)";
    return false;
  }
  const std::uint32_t blockSize = mdb->be32(format::kMdbAllocBlockSizeOffset).value_or(0);
  if (blockSize == 0 || blockSize % format::kUnitSize != 0) {
    error = "allocation block size " + std::to_string(blockSize) + " is not a positive multiple of 512";
    return false;
  }
  const std::uint64_t catalogBlocks = CatalogBlocksEnd(*mdb);
  const std::uint64_t catalogEnd = format::kAllocationBlock0 + catalogBlocks * blockSize;
  if (catalogBlocks == 0 || catalogEnd > volume.size()) {
    error = "the catalogue file's extents (drCTExtRec) are empty or reach past the volume's end";
    return false;
  }
  info.allocBlockSize = blockSize;
  info.catalogEnd = catalogEnd;
  return true;
}

}  // namespace kestrow::mkdisc
