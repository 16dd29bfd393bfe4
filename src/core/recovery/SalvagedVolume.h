// A volume loaded for a salvage: from the volume area where it can be read,
// and from the packed copy of the volume's first blocks where it cannot (a
// disc's outer rim, which holds the trailer, the volume area and the "Pack"
// table, is where CD-Rs fail first). The groups are placed by the "Pack"
// table when it can be read, else by searching the disc for their tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Spans.h"
#include "recovery/GroupSearch.h"
#include "volume/VolumeImage.h"

namespace kestrow {

enum class MetadataSource {
  kVolumeArea,  // the volume area alone
  kPackedCopy,  // the packed copy alone: the volume area could not be read
  kBoth,        // the volume area, with bytes it lost filled from the packed copy
};

// "volume area", "packed copy" or "both".
const char* MetadataSourceName(MetadataSource source);

// The most volume bytes of metadata (master directory block, extents and
// catalogue files) taken from the packed copy.
inline constexpr std::int64_t kMaxPackedMetadataBytes = std::int64_t{256} << 20;

struct SalvagedVolume {
  VolumeAreaRead area;        // what reading the volume area found
  bool areaLoaded = false;    // the trailer was found and the area read (perhaps with holes)
  // As the volume area would hold it: the preamble (zeros when the area was
  // not read), then the volume from byte 0 to the end of its catalogue.
  VolumeImage image;
  std::vector<ByteSpan> unreadableBytes;  // image bytes that neither copy held (zeros)
  MetadataSource source = MetadataSource::kVolumeArea;
  bool packTableRead = false;             // the groups are placed by the "Pack" table
  std::vector<std::int32_t> boundaries;   // the groups' first volume bytes, then the end
  GroupSearch search;                     // how they were found when not by the table
  std::vector<std::int32_t> unreadable;   // sectors that could not be read, ascending
  // The packed data does not begin with the volume's first blocks: the
  // metadata was only in the volume area.
  bool metadataGone = false;
  std::string failure;                    // why the volume could not be loaded

  bool GroupsFoundBySearch() const { return !packTableRead && search.base >= 0; }
  // Neither the volume area nor a group was found: no Kestrow PRO disc.
  bool NothingFound() const { return !areaLoaded && search.base < 0; }
};

// Salvage of a disc whose end may be gone: the volume area as far as it can
// be read, its lost bytes (or all of it) from the packed copy of the
// volume's first blocks, and the groups placed by the "Pack" table or, when
// that cannot be read, by SearchGroups. False (with `volume.failure`) when no
// master directory block could be read from either copy, or the disc may
// have changed. Reads sectors one way only: past every sector that cannot
// be read. The source must be open.
bool ReadSalvagedVolume(SectorReader& reader, SalvagedVolume& volume, const ReadPolicy& policy);

// The message for a volume that could not be loaded: the metadata gone with
// the disc's end, no Kestrow PRO disc, or a volume of an unknown format.
const char* SalvageFailureMessage(const SalvagedVolume& volume);

// What a report says of where a salvage found the volume and the groups.
struct SalvageFacts {
  bool used = false;  // the volume was loaded for a salvage (keep-going)
  MetadataSource source = MetadataSource::kVolumeArea;
  bool groupsSearched = false;  // the "Pack" table could not be read
  struct Group {
    int index = 0;
    std::int32_t lba = 0;  // its sector 0
    std::int64_t firstByte = 0, endByte = 0;  // volume bytes, end exclusive
  };
  std::vector<Group> groupsFoundBySearch;
  // Groups whose block table could not be read: found by the 248-sector
  // step, or placed by the "Pack" table and read by the job or the scan.
  std::vector<int> groupsLost;
  bool metadataGone = false;
};

SalvageFacts FactsOf(const SalvagedVolume& volume);

// Adds group `group` to facts.groupsLost, which stays ascending, each once.
void AddLostGroup(SalvageFacts& facts, int group);

}  // namespace kestrow
