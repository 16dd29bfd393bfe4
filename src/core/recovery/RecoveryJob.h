// The recovery job: the files to copy out and the destination, shared with
// the worker thread, and the record of how the job ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "volume/FileEntry.h"

namespace kestrow {

// How a job writes its files; the default is the plain data file and the
// 82-byte companion, under names read as Windows-1252.
struct RecoveryOptions {
  // The companion carries the resource fork, Finder info, dates and Mac
  // name, and both files take the Mac's modification date.
  bool resourceForks = false;
  bool macRoman = false;  // names on disk read as Mac OS Roman
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
  kStopped,       // a stop request ended the job between two files
  kFailedEarly,   // the drive, volume area, master directory block or "Pack" table failed
  kFailedAtFile,  // a sector of a group of file `failedFile` could not be read
};

struct RecoveryOutcome {
  RecoveryState state = RecoveryState::kIdle;
  std::size_t fileCount = 0;       // files in the job
  std::size_t currentFile = 0;     // index of the file in hand (or the next one)
  std::size_t failedFile = 0;      // for kFailedAtFile
  std::uint32_t written = 0;       // data files created and written in full
  std::uint64_t bytesWritten = 0;  // bytes of those data files
  std::vector<std::size_t> unwritten;   // files whose data file could not be written
  std::vector<std::string> unwrittenReasons;  // why, one per entry of `unwritten`
  std::vector<std::size_t> incomplete;  // written, but some bytes had no block on the disc
  bool Ended() const { return state != RecoveryState::kIdle && state != RecoveryState::kRunning; }
  // True when every file of the job was written in full.
  bool Clean() const {
    return state == RecoveryState::kFinished && unwritten.empty() && incomplete.empty();
  }
};

// What the worker knows about the disc's packed data for the whole job.
struct JobLayout {
  std::vector<std::int32_t> boundaries;  // the "Pack" table, volume bytes
  std::int32_t allocBlockSize = 0;       // drAlBlkSiz
  int base = 0;                          // LBA of group 0
  int maxGroups = 0;                     // groups the disc has room for
  // Volume byte after the last allocation block, when the master directory
  // block counts them: no fork can reach past it.
  std::int64_t volumeEnd = INT64_MAX;
};

// The most bytes of sector groups a job keeps for its later files.
// With the buffer of the file being written (16 MiB at most while another
// file is held) it stays within 64 MiB.
inline constexpr std::size_t kGroupCacheBudget = std::size_t{48} * 1024 * 1024;

// The worker thread's routine: returns the number of data files written, or
// 0xFFFFFFFF when the job could not begin.
class CKestrowCore;
std::uint32_t RecoveryThreadProc(CKestrowCore* core);

}  // namespace kestrow
