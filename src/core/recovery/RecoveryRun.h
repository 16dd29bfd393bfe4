// One run of the recovery job, the worker thread's body: it loads the
// volume, reads each selected file's groups in job order, plans its blocks
// (resource forks too), hands the files over in batches to the decoders and
// the writer thread, and records the outcome in the job's status as it goes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery/BufferPool.h"
#include "recovery/DecodePipeline.h"
#include "recovery/GroupCache.h"
#include "recovery/JobLayout.h"
#include "recovery/JobStatus.h"
#include "recovery/RecoveryJob.h"

namespace kestrow {

class SectorReader;
struct RecoveredFile;
struct OutputResult;

// The bytes of a file too large for a batch's arena, shared with the parts
// of it that are decoded before it is handed over.
using FileMemory = std::shared_ptr<UninitializedBytes>;

// What RecoveryRun::Run returns when the job could not begin.
inline constexpr std::uint32_t kJobCouldNotBegin = std::numeric_limits<std::uint32_t>::max();

class RecoveryRun {
 public:
  // `stop` is the job's stop request: the run clears it when it obeys.
  RecoveryRun(SectorReader& reader, const std::vector<FileEntry>& files, const std::string& destFolder,
              const RecoveryOptions& options, std::atomic<bool>& stop, JobStatus& status);

  // Opens the source, runs the job and closes the source again. The number
  // of data files written, or kJobCouldNotBegin.
  std::uint32_t Run();
  // The source could not be opened: nothing was read.
  bool OpenFailed() const { return m_openFailed; }

 private:
  class FileBatch;
  class ForkPart;
  struct Flow;

  std::uint32_t RunSteps();
  // Loads the volume area, the master directory block and the "Pack" table
  // (or what a salvage finds in their place), and checks that the volume is
  // the one the list was read from; fills m_layout. False (with the outcome
  // set) when the job cannot begin.
  bool PrepareJob();
  // Reads, hands over and settles every file in job order; the files written.
  std::uint32_t RecoverFiles();
  // Reads file `index`'s groups, plans its blocks and hands it over; false
  // when a sector of its groups could not be read (never with keep-going),
  // or the job was stopped or the disc changed while it was read.
  bool RecoverFile(std::size_t index);
  // Reads the groups of a fork, from the cache where kept.
  bool ReadFileGroups(const std::vector<int>& groupSet, std::vector<SharedGroup>& groups);
  // Reads the groups of a fork placed at `placement` in the placement's
  // order, plans the blocks that fill `out`, the fork's bytes, into `blocks`,
  // zeros every byte no block fills, and gives the groups back to the cache;
  // they join `held`. With `memory` (a large file's own, which `out` lies
  // in), the blocks go to the decoders a part at a time as their groups are
  // read. The fork's lost ranges; nothing when a sector of its groups could
  // not be read (never with keep-going), or the job was stopped or the disc
  // changed while they were read.
  std::optional<std::vector<ByteSpan>> ReadFork(const ForkPlacement& placement, std::span<std::uint8_t> out,
                                                std::size_t cacheUse, std::vector<DecodeBlock>& blocks,
                                                std::vector<SharedGroup>& held, const FileMemory& memory);
  // Reads and plans the resource fork of `file`, placed at `placement` (none
  // when it cannot be), into its rsrcData, the way the data fork is; false when a sector of its groups could not be read (never
  // with keep-going). A fork that cannot be placed, or whose bytes are not all
  // on the disc, leaves the file incomplete, zeros where bytes are missing.
  bool GatherResourceFork(RecoveredFile& file, const std::optional<ForkPlacement>& placement,
                          std::vector<DecodeBlock>& blocks, std::vector<SharedGroup>& held);
  // Room for file `file`'s `length` bytes: in the batch's arena, or a buffer
  // of its own for a file larger than the arena.
  std::span<std::uint8_t> RoomFor(RecoveredFile& file, std::size_t length);
  // The batch being filled, begun when there is none.
  FileBatch& Batch();
  // Adds a file, its blocks and the groups they are decoded from to the
  // batch, and hands the batch over when it is full.
  void Hand(RecoveredFile file, std::vector<DecodeBlock>& blocks, std::vector<SharedGroup>& groups);
  // Hands the batch being filled over.
  void HandBatchOver();
  // Hands the batch being filled over, and waits until every file is written.
  void FlushAndDrain();
  // Run on the writer's thread: write a batch's files, or record why each
  // is not, and count how they went, in job order. The files of one folder
  // are written side by side (on the writer's helper too), after their names
  // and folder are placed and before the next folder is.
  void SettleBatch(std::span<RecoveredFile> files);
  void SettleFolder(std::span<RecoveredFile> files);
  // `result`: how the output layer wrote `file`, when it was to be written.
  void Settle(RecoveredFile& file, OutputResult& result);
  void RecordWritten(RecoveredFile& file, OutputResult& result);
  // Ends the job as stopped before file `next` was written (the files
  // handed over are saved; `next` was in hand, its reading stopped); the
  // files written.
  std::uint32_t Stop(std::size_t next, bool inHand);
  // Ends the job in `state`, with the sectors it could not read.
  void End(RecoveryState state);

  SectorReader& m_reader;
  const std::vector<FileEntry>& m_files;
  const std::string m_destFolder;  // a copy: the caller's may be a temporary
  const RecoveryOptions& m_options;
  std::atomic<bool>& m_stop;
  JobStatus& m_status;
  JobLayout m_layout;
  JobDamage m_damage;
  bool m_openFailed = false;
  Flow* m_flow = nullptr;  // while the files are read
};

}  // namespace kestrow
