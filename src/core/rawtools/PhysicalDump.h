// The physical dump: a chosen range of raw 2352-byte sectors copied, as they
// come from the drive, into an image file.
#pragma once

#include <cstdint>
#include <string>

#include "rawtools/RescueStatus.h"

namespace kestrow {

class SectorReader;

// What the face supplies: the choice of the sector range and the progress
// display. Called in this order: ChooseSectorRange (the device is open, the
// file not yet created), ProgressStarted, ShowProgress before every sector,
// ProgressFinished (on every path after ProgressStarted).
class DumpCallbacks {
 public:
  virtual ~DumpCallbacks() = default;
  // Sector numbers are 1-based and inclusive, within 1..sectorCount; the
  // defaults offered are 1 and sectorCount. False: the user cancelled.
  virtual bool ChooseSectorRange(std::uint32_t sectorCount, std::uint32_t& start, std::uint32_t& end) = 0;
  virtual void ProgressStarted() {}
  // `done` sectors of `total` are in the file; the next one is being read.
  virtual void ShowProgress(int done, int total) = 0;
  virtual void ProgressFinished() {}
  // A rescue dump's state, given at least once a second, also while a read
  // hangs (after ProgressStarted, before ProgressFinished): from a timer
  // thread of the dump while it runs (never two calls at once), and once
  // more from the dump's thread at its end.
  virtual void ShowRescueStatus(const RescueStatus& /*status*/) {}
  // Polled before every sector; true ends the dump as a failure, keeping what
  // was written.
  virtual bool CancelRequested() { return false; }
};

// The figures of the last dump, for a final report.
struct DumpStatistics {
  std::uint32_t sectorsRead = 0;
  std::uint64_t bytesWritten = 0;
  bool writeFailed = false;  // the output file could not be created, or a write or its close failed
  std::string writeError;    // why, in the system's words
  bool discChanged = false;  // the disc may have been changed: the dump ended there
  bool cancelled = false;
};

// How a dump run through a SectorReader ended; the facade derives its error
// state from it (the open failed; the dump failed on an open source).
enum class DumpResult {
  kCompleted,
  kCannotOpen,
  kFailed,
};

// Physical dump of a sector range into `path` through `reader`, which it
// opens, reads the capacity of and closes again; the range is chosen and the
// progress shown through `callbacks` (CancelRequested is the stop flag). On
// every way out `stats` holds the figures of the run; the sectors written
// stay in the file.
DumpResult DumpSectorRange(SectorReader& reader, const std::string& path, DumpCallbacks& callbacks,
                           DumpStatistics& stats);

// "Reading %d/%d..." for a progress display.
std::string FormatDumpProgress(int done, int total);

// Checks a user's sector range against the disc: empty when it is valid,
// otherwise the message to show ("Please enter an integer between 1 and N.",
// or the wrong-order text).
std::string ValidateSectorRange(std::uint32_t start, std::uint32_t end, std::uint32_t sectorCount);

// Our wording for a start sector after the end sector.
inline constexpr char kSectorRangeOrderMessage[] =
    "The start sector must not be greater than the end sector.";

}  // namespace kestrow
