// What a job needs of a disc before it reads a file: the volume area (or,
// in a salvage, what the packed copy puts in its place), the master
// directory block, and where the groups lie. The recovery job and the
// damage scan load it the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Spans.h"
#include "drive/ReadPolicy.h"
#include "recovery/JobLayout.h"
#include "recovery/SalvagedVolume.h"
#include "volume/MasterDirectoryBlock.h"
#include "volume/VolumeImage.h"

namespace kestrow {

class SectorReader;

enum class JobVolumeFailure {
  kNone,
  kDiscChanged,  // the disc may have been changed while it was read
  kNoVolume,     // no trailer, or the volume area could not be read (salvage: no group found either)
  kNoMdb,        // no readable master directory block
  kNoPackTable,  // no readable "Pack" table: no file can be placed
};

struct JobVolume {
  VolumeAreaRead area;                    // what reading the volume area found
  VolumeImage image;                      // the volume area, or the salvage's stand-in
  std::vector<ByteSpan> unreadableBytes;  // bytes of `image` that could not be read (zeros)
  MasterDirectoryBlock mdb;
  JobLayout layout;                       // valid once loaded
  std::vector<std::int32_t> unreadable;   // sectors that could not be read
  std::uint64_t sectorsRead = 0;          // of the volume area and the search, for progress
  bool salvaged = false;                  // loaded the salvage's way (keep-going)
  SalvageFacts salvage;                   // salvage: where the metadata and the groups came from
  JobVolumeFailure failed = JobVolumeFailure::kNone;
  std::string failure;                    // why, in words, where there is more to say
};

// Loads `volume` through `reader` (which must be open). With `salvage`, the
// volume area where it can be read and the packed copy where not, the
// groups placed by the "Pack" table or a search; else the volume area, whose
// master directory block and "Pack" table must both be readable. Sectors
// are read under `policy`. False (with `volume.failed`) when the job cannot
// go on; what was found is kept for its report either way.
bool LoadJobVolume(SectorReader& reader, const ReadPolicy& policy, bool salvage, JobVolume& volume);

}  // namespace kestrow
