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

// The groups that hold one run of a fork, when the run lies inside the
// volume and the packed data.
std::optional<GroupSpan> PieceGroupSpan(const ForkPiece& piece, const JobLayout& layout) {
  const std::int64_t end = piece.start + std::int64_t{piece.length};
  if (piece.start < 0 || end > layout.volumeEnd || end > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  const int first = FindGroupIndex(layout.boundaries, static_cast<std::int32_t>(piece.start));
  const int last = FindGroupIndex(layout.boundaries, static_cast<std::int32_t>(end));
  if (layout.boundaries.size() < 2 || first < 0 || first > last || last - first >= layout.maxGroups) {
    return std::nullopt;
  }
  return GroupSpan{first, last};
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

std::size_t ForkPlacement::FirstGroupIndex(const PlacedPiece& placed) const {
  return static_cast<std::size_t>(std::lower_bound(groups.begin(), groups.end(), placed.span.first) - groups.begin());
}

std::optional<ForkPlacement> PlaceFork(const FileEntry& entry, const JobLayout& layout, Fork fork) {
  ForkPlacement placement;
  const std::uint32_t length = ForkLength(entry, fork);
  if (length == 0) return placement;
  // A hostile length is refused here, before anything is allocated for it:
  // a fork of one run must end inside the volume, one of several extents
  // cannot be longer than the volume.
  const bool oneRun = ForkExtents(entry, fork).size() <= 1;
  const std::int64_t volumeBytes = layout.volumeEnd - static_cast<std::int64_t>(format::kAllocationBlock0);
  const bool tooLong = std::int64_t{length} > volumeBytes || length > std::numeric_limits<std::int32_t>::max();
  if (oneRun ? !ForkInsideVolume(entry, layout, fork) : tooLong) {
    return std::nullopt;
  }
  std::vector<ByteSpan> placed;
  for (const ForkPiece& piece : ForkPieces(entry, layout.allocBlockSize, fork)) {
    const std::optional<GroupSpan> span = PieceGroupSpan(piece, layout);
    if (!span) continue;
    placement.pieces.push_back(PlacedPiece{piece, *span});
    placed.push_back(ByteSpan{piece.at, std::uint64_t{piece.at} + piece.length});
    for (int g = span->first; g <= span->last; ++g) placement.groups.push_back(g);
  }
  if (placement.pieces.empty()) return std::nullopt;
  std::sort(placement.groups.begin(), placement.groups.end());
  placement.groups.erase(std::unique(placement.groups.begin(), placement.groups.end()), placement.groups.end());
  placement.unplaced = Uncovered(std::move(placed), length);
  return placement;
}

std::vector<std::vector<int>> JobGroupSets(const std::vector<FileEntry>& files, const JobLayout& layout,
                                           bool resourceForks) {
  std::vector<std::vector<int>> sets;
  sets.reserve(files.size() * (resourceForks ? 2 : 1));
  const auto groupsOf = [&](const FileEntry& entry, Fork fork) {
    std::optional<ForkPlacement> placement = PlaceFork(entry, layout, fork);
    return placement ? std::move(placement->groups) : std::vector<int>{};
  };
  for (const FileEntry& entry : files) {
    sets.push_back(groupsOf(entry, Fork::kData));
    if (resourceForks) sets.push_back(groupsOf(entry, Fork::kResource));
  }
  return sets;
}

}  // namespace kestrow
