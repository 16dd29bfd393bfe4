// The damage scan: which files the unreadable sectors of a disc hit, and
// which of their bytes are lost, found by reading the volume area and the
// groups the files use, without writing anything.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Spans.h"
#include "drive/ReadPolicy.h"
#include "recovery/RecoveryJob.h"
#include "volume/FileEntry.h"
#include "volume/VolumeImage.h"

namespace kestrow {

enum class ScanFailure {
  kNone,
  kCannotOpen,     // the drive or image could not be opened
  kNoVolume,       // no trailer, or the volume area could not be read
  kNoCatalog,      // no readable master directory block, or no room for the catalogue
  kNoPackTable,    // no readable "Pack" table: no file can be placed
  kStopped,        // the progress callback asked to stop
  kDiscChanged,    // the disc may have been changed during the scan: nothing more was read
};

struct DamageScan {
  ScanFailure failed = ScanFailure::kNone;
  std::string failure;        // why, in words, when there is more to say
  VolumeAreaRead area;        // where the trailer was; what failed the volume area
  ListedVolume volume;        // the volume's name and creation date
  FileTable files;            // the catalogue's files, in catalogue order, paths built
  // One per file: kWhole, kDamaged or kLost, with the lost ranges of its data
  // fork. A file the catalogue places outside the packed data is lost.
  std::vector<FileResult> results;
  std::vector<SectorSpan> unreadableSectors;  // in the volume area and the groups read
  std::size_t lostCatalogNodes = 0;
  std::uint64_t sectorsScanned = 0;
  SalvageFacts salvage;       // with keep-going: where the volume and the groups were found
  bool fromMapfile = false;   // the groups' data sectors were judged by the mapfile, not read

  // How many files the unreadable sectors hit.
  std::size_t FilesHit() const;
};

// The work a damage scan has done so far, for a progress display; returning
// false from the callback asks the scan to stop.
struct ScanProgress {
  std::uint64_t sectorsDone = 0;
  std::uint64_t sectorsTotal = 0;  // known once the catalogue is read; 0 before
  std::uint64_t unreadable = 0;
};
using ScanProgressCallback = std::function<bool(const ScanProgress&)>;

class SectorReader;

// Reads every sector of the volume area and of the groups the catalogue's
// files use through `reader` (which must be open; for an image read through
// a ddrescue mapfile, the sectors the map does not mark finished count as
// unreadable and only the groups' block tables are read) and says which
// files the unreadable sectors hit and which of their bytes are lost. With
// readPolicy.keepGoing the volume is loaded the salvage's way. False when
// the volume cannot be listed (`scan.failed` says why) or the callback
// stopped it.
bool ScanDamage(SectorReader& reader, DamageScan& scan, const ReadPolicy& readPolicy,
                const ScanProgressCallback& progress = {});

}  // namespace kestrow
