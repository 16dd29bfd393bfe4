// The report of a salvage or a damage scan: each file with what became of
// it and the byte ranges it lost, the sectors that could not be read, and
// the same as JSON for scripts:
//
//   {"files": [{"path": "Disk:Folder:Name", "status": "damaged", "size": 20000,
//               "lostRanges": [[8192, 16384]]}, ...],
//    "unreadableSectors": [[1210, 1212]], "lostCatalogNodes": 0}
//
// Byte ranges are in the file's data fork, end exclusive; sector ranges are
// inclusive LBAs. With keep-going the report also says where the volume's
// metadata came from and which groups a search found:
//
//   "metadataSource": "packed copy", "groupsFoundBySearch": [{"group": 0,
//   "lba": 16, "volumeBytes": [0, 483328]}, ...], "groupsLost": [3]
//
// The report of a volume image adds the volume byte ranges that were lost
// (zeros in the image), the volume's own structures they hit, and how many
// bytes of the volume area differ from the packed copy:
//
//   "lostVolumeRanges": [[1048576, 1056768]], "structuresHit": ["catalogue file"],
//   "bytesDifferingFromVolumeArea": 0
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Spans.h"
#include "recovery/RecoveryJob.h"
#include "recovery/SalvagedVolume.h"
#include "volume/FileEntry.h"

namespace kestrow {

struct DamageScan;

struct ReportedFile {
  std::string path;  // the display path, as the face shows it (UTF-8)
  FileStatus status = FileStatus::kPending;
  std::uint64_t size = 0;  // of the data fork
  std::vector<ByteSpan> lostRanges;
  std::string reason;
  std::vector<ByteSpan> rsrcLostRanges;  // of the resource fork, when the job copied it out
};

// What a volume image lost.
struct VolumeImageDamage {
  std::vector<ByteSpan> lostRanges;          // volume bytes, end exclusive: zeros in the image
  std::vector<std::string> structuresHit;    // "catalogue file", "extents file", ...
  std::uint64_t bytesDifferingFromArea = 0;  // the packed copy's bytes were kept
};

struct DamageReport {
  std::vector<ReportedFile> files;
  std::vector<SectorSpan> unreadableSectors;
  std::size_t lostCatalogNodes = 0;
  SalvageFacts salvage;  // keep-going: where the metadata and the groups came from
  std::optional<VolumeImageDamage> volumeImage;  // the report of a volume image
};

// The path of a file as the face shows it, in UTF-8.
using DisplayPathFunction = std::function<std::string(const FileEntry&)>;

// Every file of a job, in job order. Files the job never came to are
// reported as not written.
DamageReport ReportOfRecovery(const RecoveryOutcome& outcome, const std::vector<FileEntry>& files,
                              const DisplayPathFunction& displayPath);

// The files a scan found hit (damaged or lost), in catalogue order.
DamageReport ReportOfScan(const DamageScan& scan, const DisplayPathFunction& displayPath);

// "whole", "damaged", "lost" or "not-written".
const char* StatusName(FileStatus status);

// "0-8191, 16384-20000" (inclusive, for people).
std::string LostRangesText(const std::vector<ByteSpan>& ranges);

// "Metadata: the packed copy ..." and the groups found by search, one line
// each, for people; empty when the salvage facts say nothing.
// Without `listGroups`, the groups found by search are counted on their line,
// not listed one by one (a disc may have hundreds).
std::string SalvageFactsText(const SalvageFacts& facts, bool listGroups = true);

// The report as JSON text, ending with a line end.
std::string FormatDamageReportJson(const DamageReport& report);

}  // namespace kestrow
