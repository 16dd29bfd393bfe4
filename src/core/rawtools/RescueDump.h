// The rescue dump: a whole-disc raw image (sector L at byte L x 2352, holes
// where nothing was read) and its ddrescue mapfile, read in ddrescue's
// passes and resumable from the map.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "rawtools/PhysicalDump.h"

namespace kestrow {

class RescueMap;
class SectorReader;

// Where a rescue writes. The image takes sectors in any order; the map is
// replaced only after the image's data is safe on the disk, so a map never
// marks finished a sector that is not in the image.
class RescueTarget {
 public:
  virtual ~RescueTarget() = default;
  // Writes one whole raw sector at byte lba x 2352 of the image.
  virtual bool WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) = 0;
  // Reads back the 2352 bytes at byte lba x 2352 of the image; false when
  // the image does not hold them.
  virtual bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) = 0;
  // Makes the image at least `bytes` long, the new part a hole.
  virtual bool ReachSize(std::uint64_t bytes) = 0;
  // Flushes the image to the disk, then replaces the mapfile with `text`.
  virtual bool SaveMap(const std::string& text) = 0;
  // Why the last of the operations above failed.
  virtual std::string Failure() const = 0;
};

// How a rescue runs; the defaults are GNU ddrescue's, in sectors.
struct RescueSettings {
  int retries = 0;      // passes over the sectors still bad after the others
  bool trim = true;     // false: the failed blocks' edges are left non-trimmed for a later run
  bool scrape = true;   // false: what trimming leaves is left non-scraped for a later run
  bool reverse = false; // every pass in the other direction
  // Sectors the first copying pass skips after a failed read, doubling while
  // reads keep failing up to skipMax (0: 1% of the range); 0 skips nothing.
  std::uint32_t skipMin = 27;  // one READ CD: 63.5 kB, as GNU ddrescue's 64 KiB
  std::uint32_t skipMax = 0;
  // The run stops when no read has brought a sector for this long; 0: never.
  std::chrono::seconds timeout{0};
  std::chrono::milliseconds saveInterval{5000};   // the map is replaced at least this often
  std::chrono::milliseconds statusInterval{500};  // how often the face is given the status
  // The time, for the clocks, the timeout and the map's saving (tests give a
  // clock of their own); the steady clock when empty.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

// Why a rescue that resumes from a map refused to read anything.
enum class RescueRefusal {
  kNone,
  kNotRawImage,  // finished sectors of the image are not raw sectors of the disc (no sync, another address)
  kOtherDisc,    // finished sectors of the image differ from the disc in the drive
};

// The figures of the last rescue, for its report.
struct RescueStatistics {
  std::uint32_t rangeSectors = 0;  // sectors of the chosen range
  std::uint32_t finished = 0;      // of them finished at the end
  std::uint32_t bad = 0;           // of them bad at the end ('-')
  std::uint32_t untried = 0;       // of them not yet read to the end (an interrupted run)
  std::uint32_t readThisRun = 0;   // sectors this run read and wrote
  std::uint64_t bytesWritten = 0;
  bool cancelled = false;          // the face asked to stop (Ctrl-C)
  bool timedOut = false;           // no read brought a sector for the settings' timeout
  bool writeFailed = false;        // a write to the image, or the map's replacement, failed
  bool discChanged = false;        // the disc may have been changed: the run ended, the map holds what came before
  bool mapSaved = false;           // the map on the disk is this run's last state
  RescueRefusal refusal = RescueRefusal::kNone;
  std::string failure;             // what failed with the files, or why the run was refused
};

// Before a rescue resumes: compares a sample of the sectors `map` marks
// finished (as `target` holds them) with the disc `reader` reads. False,
// with the refusal in `stats`, when the image holds no raw sectors there or
// another disc's.
bool MatchesResumedImage(SectorReader& reader, const RescueMap& map, RescueTarget& target, std::uint32_t sectorCount,
                         RescueStatistics& stats);

// Rescue dump of a sector range into a whole-disc raw image with a GNU
// ddrescue mapfile, through `reader`, which it opens, reads the capacity of
// and closes again: reads, in ddrescue's passes, the sectors of the range
// that `map` does not mark finished, writes each at its place through
// `target`, and keeps `map` (extended to the whole disc) up to date and saved
// through `target`, also when it stops early. kCompleted only when every
// sector of the range is finished. A map that marks sectors finished is
// first checked against the disc (MatchesResumedImage): when that fails,
// nothing is read or written, and `stats` says why.
DumpResult RescueSectorRange(SectorReader& reader, RescueMap& map, RescueTarget& target, DumpCallbacks& callbacks,
                             const RescueSettings& settings, RescueStatistics& stats);

}  // namespace kestrow
