// Finding the sector groups without the "Pack" table: every group begins
// (in its sector 1) with a block table that says which volume bytes its
// blocks hold, so a disc whose last sectors are gone can still be placed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "drive/ReadPolicy.h"
#include "drive/SectorReader.h"

namespace kestrow {

// What one sector's user data says when it looks like the first sector of a
// group's block table.
struct GroupTableSector {
  std::uint32_t blockCount = 0;
  std::int64_t firstPosition = 0;  // volume byte of the first block
  std::int64_t lastPosition = 0;   // volume byte of the last block whose entry is in this sector
  bool wholeTable = false;         // every entry lies in this sector
};

// The table in `userData` (2,048 bytes) when it is plausible: at least one
// block; block positions rising by 16 units (one block) or more; data
// offsets rising, after the table and before the end value, which lies
// within the group's 248 sectors. Only the entries in this sector are
// looked at.
std::optional<GroupTableSector> ParseGroupTableSector(std::span<const std::uint8_t> userData);

// The groups a search found, in the form the "Pack" table gives them.
struct GroupSearch {
  std::int32_t base = -1;                // LBA of group 0; -1 when no group was found
  std::vector<std::int32_t> boundaries;  // group k's first volume byte, then an open end
  std::vector<int> found;                // the groups whose tables were read
  std::vector<int> lost;                 // the groups whose table sector could not be read
  // Volume bytes each found group holds, as far as its table's first sector
  // says: [first, last block's end), one per entry of `found`.
  std::vector<std::pair<std::int64_t, std::int64_t>> spans;
  std::uint64_t sectorsRead = 0;
};

// The boundary past the last group found: the packed data's end is not
// known, so the last group is taken to hold every volume byte after its
// first block (what its table lacks is lost).
inline constexpr std::int32_t kOpenGroupEnd = 0x7FFFFFFF;

// Searches LBAs 0 to sectorCount - 1 for the groups' block tables: the
// first table followed by another 248 sectors on, then one sector every 248
// until a readable one holds no table that goes on from the last. Reads past
// every sector that cannot be read (each told to `sink` when given), and
// stops when the disc may have changed. The source must be open.
GroupSearch SearchGroups(SectorReader& reader, std::int32_t sectorCount, const ReadPolicy& policy,
                         const UnreadableSink& sink = {});

}  // namespace kestrow
