// One run of the recovery job, the worker thread's body: it loads the
// volume, reads and decodes each selected file in job order, gathers
// resource forks, hands the files to a writer thread, and records the
// outcome in the job's status as it goes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "recovery/FileWriter.h"
#include "recovery/JobLayout.h"
#include "recovery/JobStatus.h"
#include "recovery/RecoveryJob.h"

namespace kestrow {

class GroupCache;
class OutputTree;
class SectorReader;

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
  std::uint32_t RunSteps();
  // Loads the volume area, the master directory block and the "Pack" table
  // (or what a salvage finds in their place), and checks that the volume is
  // the one the list was read from; fills m_layout. False (with the outcome
  // set) when the job cannot begin.
  bool PrepareJob();
  // Reads and decodes file `index` and hands it to `writer`; false when a
  // sector of its groups could not be read (never with keep-going).
  bool RecoverFile(std::size_t index, GroupCache& cache, FileWriter& writer);
  // Reads the groups of a fork, from the cache where kept.
  bool ReadFileGroups(const std::vector<int>& groupSet, GroupCache& cache, std::vector<GroupBuffer>& groups);
  // Reads the resource fork of `file` into its rsrcData, the way the data
  // fork is read; false when a sector of its groups could not be read (never
  // with keep-going). A fork that cannot be placed, or whose bytes are not all
  // on the disc, leaves the file incomplete, zeros where bytes are missing.
  bool GatherResourceFork(FileWriter::File& file, GroupCache& cache);
  // Runs on the writer's thread: writes the file and counts how it went.
  void WriteRecoveredFile(FileWriter::File& file, OutputTree& tree);
  // Counts file `index` as not written, after every file before it.
  void MarkUnwritten(std::size_t index, std::string reason, FileWriter& writer);
  // Ends the job as stopped before file `next` was written (the files
  // handed to the writer are saved; `next` was in hand, its reading
  // stopped); the files written.
  std::uint32_t Stop(FileWriter& writer, std::size_t next, bool inHand);
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
};

}  // namespace kestrow
