// Where a disc's packed data lies, for everything that reads files out of
// it (the recovery job, the damage scan): the "Pack" table's groups, their
// place on the disc, and the groups each file needs. The groups' place is
// decided here and nowhere else.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "drive/ReadPolicy.h"
#include "recovery/DataLocation.h"
#include "recovery/GroupCache.h"
#include "volume/FileEntry.h"
#include "volume/MasterDirectoryBlock.h"
#include "volume/VolumeImage.h"

namespace kestrow {

struct JobLayout {
  std::vector<std::int32_t> boundaries;  // the "Pack" table, volume bytes
  std::int32_t allocBlockSize = 0;       // drAlBlkSiz
  int base = 0;                          // LBA of group 0
  int maxGroups = 0;                     // groups the disc has room for
  // Volume byte after the last allocation block, when the master directory
  // block counts them: no fork can reach past it.
  std::int64_t volumeEnd = INT64_MAX;
  ReadPolicy policy;                     // how sectors are read
};

// The layout of a disc whose volume area `area` (of `imageBytes` bytes) was
// read, with its master directory block and "Pack" table. The groups end
// where the trailer's sector ends the volume section: on a disc written
// track-at-once, run-out sectors may follow it.
JobLayout MakeJobLayout(const VolumeAreaRead& area, std::size_t imageBytes, std::vector<std::int32_t> boundaries,
                        const MasterDirectoryBlock& mdb);

struct SalvagedVolume;

// The LBA of group 0 of a salvaged volume: where the search found it, or
// where the "Pack" table's groups end at the trailer's sector.
int SalvageGroupBase(const SalvagedVolume& volume);

// The layout of a salvaged volume, its groups placed by SalvageGroupBase.
JobLayout MakeJobLayout(const SalvagedVolume& volume, const MasterDirectoryBlock& mdb);

// A run of a fork's bytes and the groups that hold it.
struct PlacedPiece {
  ForkPiece piece;
  GroupSpan span;
};

// Where a fork's bytes are read from: its runs that can be placed, the fork
// ranges that none can (extents outside the volume or the packed data,
// bytes that no extent found holds), and every group the runs need.
struct ForkPlacement {
  std::vector<PlacedPiece> pieces;
  std::vector<ByteSpan> unplaced;  // fork offsets, end exclusive
  std::vector<int> groups;         // ascending, each once
  // The groups of one run, as a slice of `groups`.
  std::size_t FirstGroupIndex(const PlacedPiece& placed) const;
};

// Places a fork: an empty placement for an empty fork. Nothing when the
// fork has bytes and not one of its runs can be placed (outside the volume,
// a table of fewer than two entries, a run that starts outside the table or
// needs more groups than the disc has room for), or when its length cannot
// be: a fork of one run that would end past the volume, one of several
// extents longer than the volume.
std::optional<ForkPlacement> PlaceFork(const FileEntry& entry, const JobLayout& layout, Fork fork = Fork::kData);

// The groups of every file, an empty set for a file that cannot be placed;
// with `resourceForks`, two per file: the data fork's, then the resource
// fork's.
std::vector<std::vector<int>> JobGroupSets(const std::vector<FileEntry>& files, const JobLayout& layout,
                                           bool resourceForks = false);

}  // namespace kestrow
