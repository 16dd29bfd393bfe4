#include "recovery/DataLocation.h"

#include <algorithm>
#include <limits>

#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

std::int32_t ClampToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

bool ReadPackTable(const VolumeImage& image, std::vector<std::int32_t>& boundaries) {
  const ByteReader reader(image);
  if (image.size() < format::kVolumeOffset) return false;
  if (!reader.matches(format::kPackTableOffset, format::kPackSignature)) return false;
  const std::uint32_t count = *reader.be24(format::kPackCountOffset);
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::size_t entry = format::kPackEntriesOffset + std::size_t{k} * format::kPackEntrySize;
    const auto value = reader.be24(entry + format::kPackEntryValueOffset);
    if (!value) break;  // the rest of the table lies past the end of the image
    // A 24-bit count of 512-byte units reaches 8 GiB; past 2^31 - 1 bytes it
    // is held at the largest offset, so that the list keeps its order.
    boundaries.push_back(ClampToInt32(std::int64_t{*value} * static_cast<std::int64_t>(format::kUnitSize)));
  }
  return true;
}

std::uint32_t ForkStartBlock(const FileEntry& entry, Fork fork) {
  return fork == Fork::kData ? entry.dataExtents[0].startBlock : entry.rsrcExtents[0].startBlock;
}

std::uint32_t ForkLength(const FileEntry& entry, Fork fork) {
  return fork == Fork::kData ? entry.dataLogicalLength : entry.rsrcLogicalLength;
}

ByteRange ForkByteRange(const FileEntry& entry, std::int32_t allocBlockSize, Fork fork) {
  const std::int64_t start = std::int64_t{ForkStartBlock(entry, fork)} * allocBlockSize +
                             static_cast<std::int64_t>(format::kAllocationBlock0);
  const std::int64_t end = start + ForkLength(entry, fork);
  return ByteRange{ClampToInt32(start), ClampToInt32(end)};
}

std::vector<ExtentDescriptor> ForkExtents(const FileEntry& entry, Fork fork) {
  const auto& first = fork == Fork::kData ? entry.dataExtents : entry.rsrcExtents;
  const auto& overflow = fork == Fork::kData ? entry.dataOverflowExtents : entry.rsrcOverflowExtents;
  std::vector<ExtentDescriptor> extents;
  for (const ExtentDescriptor& extent : first) {
    if (extent.blockCount == 0) break;
    extents.push_back(extent);
  }
  // The overflow file continues only a record whose three extents are full.
  if (extents.size() == first.size()) extents.insert(extents.end(), overflow.begin(), overflow.end());
  return extents;
}

std::vector<ForkPiece> ForkPieces(const FileEntry& entry, std::int32_t allocBlockSize, Fork fork) {
  const std::uint32_t length = ForkLength(entry, fork);
  std::vector<ForkPiece> pieces;
  if (length == 0) return pieces;
  const std::vector<ExtentDescriptor> extents = ForkExtents(entry, fork);
  if (extents.empty()) {
    const ByteRange range = ForkByteRange(entry, allocBlockSize, fork);
    pieces.push_back(ForkPiece{0, range.start, length});
    return pieces;
  }
  std::uint64_t at = 0;
  for (const ExtentDescriptor& extent : extents) {
    if (at >= length) break;
    const std::uint64_t blockSize = static_cast<std::uint64_t>(std::max(allocBlockSize, 0));
    const std::uint64_t bytes = std::uint64_t{extent.blockCount} * blockSize;
    const auto take = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, length - at));
    if (take == 0) continue;
    const std::int64_t start = std::int64_t{extent.startBlock} * allocBlockSize +
                               static_cast<std::int64_t>(format::kAllocationBlock0);
    pieces.push_back(ForkPiece{static_cast<std::uint32_t>(at), start, take});
    at += take;
  }
  return pieces;
}

int FindGroupIndex(const std::vector<std::int32_t>& boundaries, std::int32_t offset) {
  const int n = static_cast<int>(boundaries.size());
  int result = n - 1;
  if (n != 1) {
    for (int j = 0; j + 1 < n; ++j) {
      if (boundaries[j] <= offset && offset < boundaries[j + 1]) result = j;
    }
  }
  return result;
}

int GroupBaseSector(int sectorCount, int imageBytes, int boundaryCount) {
  const std::int64_t sector = static_cast<std::int64_t>(format::kUserDataSize);
  const std::int64_t group = static_cast<std::int64_t>(format::kGroupSectors);
  const std::int64_t rounded = (std::int64_t{imageBytes} + sector - 1) / sector * sector;
  const std::int64_t volumeSectors = (rounded + sector) / sector;
  const std::int64_t volumeGroups = (volumeSectors + group - 1) / group;
  return ClampToInt32(std::int64_t{sectorCount} - group * (volumeGroups + boundaryCount - 1));
}

}  // namespace kestrow
