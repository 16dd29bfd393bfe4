#include "recovery/JobLayout.h"

#include <algorithm>
#include <limits>

#include "recovery/DataLocation.h"
#include "recovery/SalvagedVolume.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

// True when the catalogue places the data fork inside the volume, whose
// offsets are 31-bit. A hostile length (up to 4 GiB) is refused here, before
// anything is allocated for it.
bool ForkInsideVolume(const FileEntry& entry, const JobLayout& layout, Fork fork) {
  const std::int64_t start = std::int64_t{ForkStartBlock(entry, fork)} * layout.allocBlockSize +
                             static_cast<std::int64_t>(format::kAllocationBlock0);
  const std::int64_t end = start + std::int64_t{ForkLength(entry, fork)};
  return end <= layout.volumeEnd && end <= std::numeric_limits<std::int32_t>::max();
}

}  // namespace

JobLayout MakeJobLayout(const VolumeAreaRead& area, std::size_t imageBytes, std::vector<std::int32_t> boundaries,
                        const MasterDirectoryBlock& mdb) {
  const std::int32_t sectorCount = area.DiscEnd();
  JobLayout layout;
  layout.boundaries = std::move(boundaries);
  layout.allocBlockSize = static_cast<std::int32_t>(mdb.drAlBlkSiz());
  layout.base = GroupBaseSector(sectorCount, static_cast<int>(std::min<std::size_t>(imageBytes, INT32_MAX)),
                                static_cast<int>(std::min<std::size_t>(layout.boundaries.size(), INT32_MAX)));
  // No file can need more groups than the disc has room for.
  layout.maxGroups = std::max(sectorCount, 0) / static_cast<int>(format::kGroupSectors) + 1;
  // A master directory block that counts no allocation blocks says nothing
  // about the volume's end; the 31-bit volume offsets still bound it.
  if (mdb.drNmAlBlks() != 0) {
    layout.volumeEnd = static_cast<std::int64_t>(format::kAllocationBlock0) +
                       std::int64_t{mdb.drNmAlBlks()} * std::int64_t{mdb.drAlBlkSiz()};
  }
  return layout;
}

int SalvageGroupBase(const SalvagedVolume& volume) {
  if (volume.GroupsFoundBySearch()) return volume.search.base;
  return GroupBaseSector(volume.area.DiscEnd(), static_cast<int>(std::min<std::size_t>(volume.image.size(), INT32_MAX)),
                         static_cast<int>(std::min<std::size_t>(volume.boundaries.size(), INT32_MAX)));
}

JobLayout MakeJobLayout(const SalvagedVolume& volume, const MasterDirectoryBlock& mdb) {
  if (!volume.GroupsFoundBySearch()) {
    return MakeJobLayout(volume.area, volume.image.size(), volume.boundaries, mdb);
  }
  // Without the trailer the groups may lie anywhere on the disc.
  VolumeAreaRead whole = volume.area;
  whole.trailerLba = whole.sectorCount - 1;
  JobLayout layout = MakeJobLayout(whole, volume.image.size(), volume.boundaries, mdb);
  layout.base = volume.search.base;
  return layout;
}

std::optional<GroupSpan> FileGroupSpan(const FileEntry& entry, const JobLayout& layout, Fork fork) {
  if (ForkLength(entry, fork) == 0) return GroupSpan{};
  if (!ForkInsideVolume(entry, layout, fork)) return std::nullopt;
  const ByteRange range = ForkByteRange(entry, layout.allocBlockSize, fork);
  const int first = FindGroupIndex(layout.boundaries, range.start);
  const int last = FindGroupIndex(layout.boundaries, range.end);
  if (layout.boundaries.size() < 2 || first < 0 || first > last || last - first >= layout.maxGroups) {
    return std::nullopt;
  }
  return GroupSpan{first, last};
}

std::vector<GroupSpan> JobGroupSpans(const std::vector<FileEntry>& files, const JobLayout& layout,
                                     bool resourceForks) {
  std::vector<GroupSpan> spans;
  spans.reserve(files.size() * (resourceForks ? 2 : 1));
  for (const FileEntry& entry : files) {
    spans.push_back(FileGroupSpan(entry, layout).value_or(GroupSpan{}));
    if (resourceForks) spans.push_back(FileGroupSpan(entry, layout, Fork::kResource).value_or(GroupSpan{}));
  }
  return spans;
}

}  // namespace kestrow
