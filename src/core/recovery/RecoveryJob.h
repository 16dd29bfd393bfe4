// The recovery job: the files to copy out and the destination, shared with
// the worker thread, and the record of how the job ended.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "drive/ReadPolicy.h"
#include "Spans.h"
#include "recovery/ExtractRange.h"
#include "recovery/JobLayout.h"
#include "recovery/SalvagedVolume.h"
#include "volume/FileEntry.h"

namespace kestrow {

// The volume a file list was read from: the job makes sure that the disc it
// reads holds that volume before it writes anything.
struct ListedVolume {
  std::string name;             // drVN, raw bytes
  std::uint32_t createDate = 0; // drCrDate
};

// How a job goes about its work. Default-constructed: as the program always
// did (the job ends at the first sector that cannot be read).
struct RecoveryOptions {
  // The companion carries the resource fork, Finder info, dates and Mac
  // name, and both files take the Mac's modification date.
  bool resourceForks = false;
  bool macRoman = false;  // names on disk read as Mac OS Roman
  // Go on past sectors that cannot be read: every file gets what could be
  // read of it, with zeros where its bytes were lost.
  bool keepGoing = false;
  // Further one-sector reads of a sector whose read failed.
  std::int32_t retries = 0;
  // When given, the volume the job loads must be this one, and every
  // selected file must have the same catalogue record on it.
  std::optional<ListedVolume> listedVolume;
};

// One job at a time in the whole process: written by StartRecovery before the
// worker starts, only read by the worker afterwards.
extern std::vector<FileEntry> g_vecRecoverFiles;
extern std::string g_strDestFolder;  // always ends with the path separator
extern RecoveryOptions g_recoveryOptions;

enum class RecoveryState {
  kIdle,          // no job was started
  kRunning,       // the worker is copying files
  kFinished,      // every file was handled (see unwritten/incomplete for any that failed)
  kStopped,       // a stop request ended the job before its next READ CD; the file in hand is not written
  kFailedEarly,   // the drive, volume area, master directory block or "Pack" table failed
  kFailedAtFile,  // a sector of a group of file `failedFile` could not be read
  kDifferentDisc, // the disc holds another volume than the list: nothing was written
  kAborted,       // something other than the disc ended it (memory, a thread); see failure
  kDiscChanged,   // the disc may have been changed under the job: nothing more was read, the
                  // file in hand (`failedFile`) was not written, the files before it stay
};

// What became of one file of a job.
enum class FileStatus {
  kPending,     // not handled: the job ended before it
  kWhole,       // written, every byte read
  kDamaged,     // written, with zeros in its lost ranges
  kLost,        // no byte of it could be read: not written
  kNotWritten,  // the destination refused it, or the catalogue cannot place it
};

struct FileResult {
  FileStatus status = FileStatus::kPending;
  std::vector<ByteSpan> lostRanges;  // of its data fork, end exclusive
  std::string reason;                // for kNotWritten (and kLost when it could not be placed)
  std::vector<ByteSpan> rsrcLostRanges;  // of its resource fork, when the job copies it out
};

struct RecoveryOutcome {
  RecoveryState state = RecoveryState::kIdle;
  std::size_t fileCount = 0;       // files in the job
  std::size_t currentFile = 0;     // index of the file in hand (or the next one)
  std::size_t failedFile = 0;      // for kFailedAtFile
  std::uint32_t written = 0;       // data files created and written in full
  std::uint64_t bytesWritten = 0;  // bytes of those data files
  std::uint64_t bytesDone = 0;     // of the files' data forks handled so far
  std::uint64_t bytesTotal = 0;    // of every file's data fork
  std::vector<std::size_t> unwritten;   // files whose data file could not be written
  std::vector<std::string> unwrittenReasons;  // why, one per entry of `unwritten`
  std::vector<std::size_t> incomplete;  // written, but some bytes had no block on the disc
  std::vector<FileResult> files;        // one per file of the job, in job order
  std::vector<SectorSpan> unreadableSectors;  // what the job could not read
  std::size_t lostCatalogNodes = 0;     // keep-going: catalogue nodes the volume area lost
  std::string failure;                  // why a failed job ended, when it says more than its state
  SalvageFacts salvage;                 // keep-going: where the volume and the groups were found
  bool Ended() const { return state != RecoveryState::kIdle && state != RecoveryState::kRunning; }
  // True when every file of the job was written in full.
  bool Clean() const {
    return state == RecoveryState::kFinished && unwritten.empty() && incomplete.empty() &&
           std::all_of(files.begin(), files.end(), [](const FileResult& f) { return f.status == FileStatus::kWhole; });
  }
};

// What a progress display needs of a running job.
struct RecoveryProgress {
  RecoveryState state = RecoveryState::kIdle;
  std::size_t fileCount = 0;
  std::size_t currentFile = 0;
  std::uint64_t bytesDone = 0;   // of the files' data forks handled so far
  std::uint64_t bytesTotal = 0;  // of every selected file's data fork
};

// What a job learns of the disc's damage as it reads.
struct JobDamage {
  std::vector<std::int32_t> unreadable;        // sectors it could not read
  std::map<int, GroupSectorMask> groupMasks;   // groups read with sectors missing
};

// The most bytes of sector groups a job keeps for its later files.
// With the buffer of the file being written (16 MiB at most while another
// file is held) it stays within 64 MiB.
inline constexpr std::size_t kGroupCacheBudget = std::size_t{48} * 1024 * 1024;

}  // namespace kestrow
