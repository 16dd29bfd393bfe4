// A sector group: 248 sectors, the first holding nothing of ours, the other
// 247 the group's data (its block table, then its compressed blocks), read
// into one buffer of their user data.
#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include "drive/ReadPolicy.h"
#include "drive/SectorReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {

using GroupBuffer = std::vector<std::uint8_t>;

// The data sectors of a group (bit i: the group's sector i + 1) that could
// not be read; their bytes in the group buffer are zeros.
using GroupSectorMask = std::bitset<format::kGroupDataSectors>;

// Reads the data sectors of group `group` (counted from `baseSector`) into
// `buffer`, under `policy`; with keepGoing the sectors that could not be read
// are zeros in the buffer and set in `unreadable` (which is cleared first),
// each also told to `sink` when given. True when every sector was read.
bool ReadSectorGroup(SectorReader& reader, int group, GroupBuffer& buffer, int baseSector, const ReadPolicy& policy,
                     GroupSectorMask& unreadable, const UnreadableSink& sink = {});

}  // namespace kestrow
