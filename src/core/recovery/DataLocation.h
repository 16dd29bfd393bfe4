// Where a file's data lies: the packed-data table that splits the volume
// into sector groups, the byte range of a fork, and the placement of the
// groups on the disc.
#pragma once

#include <cstdint>
#include <vector>

#include "volume/FileEntry.h"
#include "volume/VolumeImage.h"

namespace kestrow {

struct ByteRange {
  std::int32_t start = 0;  // volume byte offsets, end exclusive
  std::int32_t end = 0;
};

// Reads the "Pack" table's group boundaries (byte offsets in the volume).
// Entries that would reach past the end of the image are not read; a
// boundary past 2^31 - 1 bytes is held at 2^31 - 1.
bool ReadPackTable(const VolumeImage& image, std::vector<std::int32_t>& boundaries);

enum class Fork { kData, kResource };

// The first extent's start block of a fork and its logical length.
std::uint32_t ForkStartBlock(const FileEntry& entry, Fork fork);
std::uint32_t ForkLength(const FileEntry& entry, Fork fork);

// A fork's range: first extent's start block × block size + 9,728, running
// on for the fork's logical length.
ByteRange ForkByteRange(const FileEntry& entry, std::int32_t allocBlockSize, Fork fork = Fork::kData);

// One run of a fork's bytes: `length` bytes at fork offset `at`, lying from
// volume byte `start` on.
struct ForkPiece {
  std::uint32_t at = 0;
  std::int64_t start = 0;
  std::uint32_t length = 0;
  bool operator==(const ForkPiece&) const = default;
};

// A fork's extents in fork order: its catalogue record's three (up to the
// first empty one), then those of the extents overflow file.
std::vector<ExtentDescriptor> ForkExtents(const FileEntry& entry, Fork fork);

// The runs of a fork's bytes, in fork order, one per extent, up to the fork's
// logical length; bytes past what the extents hold lie in no run. A fork
// whose extents hold no block at all is read as one run from its first
// extent's start block, as ForkByteRange places it.
std::vector<ForkPiece> ForkPieces(const FileEntry& entry, std::int32_t allocBlockSize, Fork fork = Fork::kData);

// The group whose span holds `offset`; n − 1 when none does, −1 for no list.
int FindGroupIndex(const std::vector<std::int32_t>& boundaries, std::int32_t offset);

// The LBA of group 0: the groups end where the volume area's whole groups of
// sectors (the area plus the trailer sector) begin at the end of the disc.
int GroupBaseSector(int sectorCount, int imageBytes, int boundaryCount);

}  // namespace kestrow
