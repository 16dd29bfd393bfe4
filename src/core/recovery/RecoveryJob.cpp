// The recovery job: StartRecovery, the worker, and the stop request.
#include "recovery/RecoveryJob.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>
#include <utility>
#include <limits>
#include <new>
#include <optional>
#include <span>

#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/FileWriter.h"
#include "recovery/GroupCache.h"
#include "recovery/OutputFiles.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

namespace kestrow {

std::vector<FileEntry> g_vecRecoverFiles;
std::string g_strDestFolder;
RecoveryOptions g_recoveryOptions;

namespace {

constexpr std::uint32_t kJobCouldNotBegin = std::numeric_limits<std::uint32_t>::max();

// The groups that hold a file's data fork: an empty span for an empty fork,
// nothing when the fork cannot be placed (a table of fewer than two entries
// describes no group, and a range that starts outside the table, or needs
// more groups than the disc has room for, cannot be read).
// True when the catalogue places the data fork inside the volume, whose
// offsets are 31-bit. A hostile length (up to 4 GiB) is refused here, before
// anything is allocated for it.
bool ForkInsideVolume(const FileEntry& entry, const JobLayout& layout, Fork fork) {
  const std::int64_t start = std::int64_t{ForkStartBlock(entry, fork)} * layout.allocBlockSize +
                             static_cast<std::int64_t>(format::kAllocationBlock0);
  const std::int64_t end = start + std::int64_t{ForkLength(entry, fork)};
  return end <= layout.volumeEnd && end <= std::numeric_limits<std::int32_t>::max();
}

std::optional<GroupSpan> FileGroupSpan(const FileEntry& entry, const JobLayout& layout, Fork fork = Fork::kData) {
  if (ForkLength(entry, fork) == 0) return GroupSpan{};
  if (!ForkInsideVolume(entry, layout, fork)) return std::nullopt;
  const ByteRange range = ForkByteRange(entry, layout.allocBlockSize, fork);
  const int first = FindGroupIndex(layout.boundaries, range.start);
  const int last = FindGroupIndex(layout.boundaries, range.end);
  if (layout.boundaries.size() < 2 || first < 0 || first > last || last - first >= layout.maxGroups) {
    return std::nullopt;
  }
  return GroupSpan{first, last};
}

// The group cache counts the uses of groups: one per file, or two (the data
// fork, then the resource fork) when the job copies resource forks out.
std::size_t CacheUse(std::size_t file, Fork fork) {
  if (!g_recoveryOptions.resourceForks) return file;
  return 2 * file + (fork == Fork::kResource ? 1 : 0);
}

std::vector<GroupSpan> JobGroupSpans(const std::vector<FileEntry>& files, const JobLayout& layout) {
  std::vector<GroupSpan> spans;
  spans.reserve(files.size());
  for (const FileEntry& entry : files) {
    spans.push_back(FileGroupSpan(entry, layout).value_or(GroupSpan{}));
    if (g_recoveryOptions.resourceForks) {
      spans.push_back(FileGroupSpan(entry, layout, Fork::kResource).value_or(GroupSpan{}));
    }
  }
  return spans;
}

// Reads the resource fork of `file` into its rsrcData, the way the data fork
// is read. False when a sector of its groups could not be read. A fork that
// cannot be placed, or whose bytes are not all on the disc, leaves the file
// incomplete (zeros where bytes are missing).
bool GatherResourceFork(CKestrowCore& core, FileWriter::File& file, const JobLayout& layout, GroupCache& cache) {
  const FileEntry& entry = file.entry;
  const std::optional<GroupSpan> span = FileGroupSpan(entry, layout, Fork::kResource);
  try {
    if (span) file.rsrcData.assign(entry.rsrcLogicalLength, 0);
  } catch (const std::bad_alloc&) {
    file.rsrcData.clear();
  }
  if (!span || file.rsrcData.size() != entry.rsrcLogicalLength) {
    file.complete = false;
    return true;
  }
  std::vector<GroupBuffer> groups;
  for (int g = span->first; g <= span->last; ++g) {
    std::optional<GroupBuffer> kept = cache.Take(g);
    groups.push_back(kept ? std::move(*kept) : cache.TakeSpare());
    if (!kept && !core.ReadSectorGroup(g, groups.back(), layout.base)) return false;
  }
  const ByteRange range = ForkByteRange(entry, layout.allocBlockSize, Fork::kResource);
  if (!ExtractRange(groups, static_cast<std::uint32_t>(range.start), static_cast<std::uint32_t>(range.end),
                    file.rsrcData)) {
    file.complete = false;
  }
  for (int g = span->first; g <= span->last; ++g) {
    cache.Return(g, std::move(groups[static_cast<std::size_t>(g - span->first)]), CacheUse(file.index, Fork::kResource));
  }
  return true;
}

OutputOptions OutputOptionsOf(const RecoveryOptions& options) {
  OutputOptions output;
  output.codePage = options.macRoman ? CodePage::kMacRoman : CodePage::kWindows1252;
  output.resourceForks = options.resourceForks;
  return output;
}

// The files the job reads from, which it must never write over.
std::vector<FileIdentity> SourceIdentities(const Transport& transport) {
  std::vector<FileIdentity> identities;
  for (const std::string& path : transport.SourceFiles()) {
    if (const std::optional<FileIdentity> identity = IdentifyFile(path)) identities.push_back(*identity);
  }
  return identities;
}

}  // namespace

std::uint32_t RecoveryThreadProc(CKestrowCore* core) {
  const std::uint32_t result = core->RunRecovery();
  core->m_bWorkerRunning = false;
  return result;
}

bool CKestrowCore::StartRecovery(const std::vector<FileEntry>& selected, const std::string& destFolder,
                                 const RecoveryOptions& options) {
  SetStatus(msg::kReading);
  g_vecRecoverFiles = selected;
  g_strDestFolder = destFolder;
  g_recoveryOptions = options;
  if (m_hThread.joinable()) m_hThread.join();  // the previous worker has ended or is about to
  m_bStopRequest = false;
  UpdateOutcome([&](RecoveryOutcome& o) {
    o = RecoveryOutcome{};
    o.state = RecoveryState::kRunning;
    o.fileCount = selected.size();
  });
  m_bWorkerRunning = true;
  m_hThread = std::thread(RecoveryThreadProc, this);
  return true;
}

void CKestrowCore::RequestStop() {
  if (!m_hThread.joinable()) return;
  m_bStopRequest = true;
  // The worker clears the flag when it obeys between two files; a worker that
  // has already ended (after a failure or its last file) never will.
  while (m_bStopRequest && m_bWorkerRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  m_hThread.join();
  m_bStopRequest = false;
}

void CKestrowCore::WaitForRecovery() {
  if (m_hThread.joinable()) m_hThread.join();
}

RecoveryOutcome CKestrowCore::GetRecoveryOutcome() const {
  std::lock_guard<std::mutex> lock(m_statusLock);
  return m_outcome;
}

void CKestrowCore::UpdateOutcome(const std::function<void(RecoveryOutcome&)>& change) {
  std::lock_guard<std::mutex> lock(m_statusLock);
  change(m_outcome);
}

std::uint32_t CKestrowCore::RunRecovery() {
  const auto failEarly = [this] {
    UpdateOutcome([](RecoveryOutcome& o) { o.state = RecoveryState::kFailedEarly; });
    return kJobCouldNotBegin;
  };
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return failEarly();
  }
  VolumeImage image;
  MasterDirectoryBlock mdb;
  std::vector<std::int32_t> boundaries;
  if (!ReadVolumeImage(image) || !ReadMasterDirectoryBlock(image, mdb) ||
      !ReadPackTable(image, boundaries)) {
    CloseDevice();
    return failEarly();
  }
  const std::int32_t sectorCount = ReadCapacity();
  JobLayout layout;
  layout.boundaries = std::move(boundaries);
  layout.allocBlockSize = static_cast<std::int32_t>(mdb.drAlBlkSiz());
  layout.base = GroupBaseSector(sectorCount, static_cast<int>(std::min<std::size_t>(image.size(), INT32_MAX)),
                                static_cast<int>(std::min<std::size_t>(layout.boundaries.size(), INT32_MAX)));
  // No file can need more groups than the disc has room for.
  layout.maxGroups = std::max(sectorCount, 0) / static_cast<int>(format::kGroupSectors) + 1;
  // A master directory block that counts no allocation blocks says nothing
  // about the volume's end; the 31-bit volume offsets still bound it.
  if (mdb.drNmAlBlks() != 0) {
    layout.volumeEnd = static_cast<std::int64_t>(format::kAllocationBlock0) +
                       std::int64_t{mdb.drNmAlBlks()} * std::int64_t{mdb.drAlBlkSiz()};
  }
  image.clear();
  image.shrink_to_fit();
  // Every group is read once per job while the groups kept for later files
  // fit in the budget. Files are written in job order on a second thread
  // while the next one is read and decoded.
  GroupCache cache(JobGroupSpans(g_vecRecoverFiles, layout), kGroupCacheBudget);
  OutputNames names;  // keeps files whose names collide once sanitized apart; the writer's alone
  OutputTree tree(g_strDestFolder, OutputOptionsOf(g_recoveryOptions), SourceIdentities(*m_pTransport), &names);
  FileWriter writer([this, &tree](FileWriter::File& file) { WriteRecoveredFile(file, tree); });

  for (std::size_t i = 0;; ++i) {
    if (i >= g_vecRecoverFiles.size()) {
      writer.Drain();
      CloseDevice();
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_outcome.state = RecoveryState::kFinished;
      m_strStatus.clear();
      return m_outcome.written;
    }
    if (m_bStopRequest) {
      writer.Drain();  // the file in hand is saved
      CloseDevice();
      UpdateOutcome([](RecoveryOutcome& o) { o.state = RecoveryState::kStopped; });
      m_bStopRequest = false;  // the acknowledgement, once nothing else is left to do
      return GetRecoveryOutcome().written;
    }
    {
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_strStatus = g_vecRecoverFiles[i].name;
      m_outcome.currentFile = i;
    }
    if (!RecoverFile(i, layout, cache, writer)) {
      writer.Drain();  // the files before this one are saved
      CloseDevice();
      UpdateOutcome([i](RecoveryOutcome& o) {
        o.state = RecoveryState::kFailedAtFile;
        o.failedFile = i;
      });
      return GetRecoveryOutcome().written;
    }
  }
}

void CKestrowCore::MarkUnwritten(std::size_t index, std::string reason, FileWriter& writer) {
  writer.Drain();  // the files before this one are counted first
  UpdateOutcome([&](RecoveryOutcome& o) {
    o.unwritten.push_back(index);
    o.unwrittenReasons.push_back(std::move(reason));
  });
}

bool CKestrowCore::RecoverFile(std::size_t index, const JobLayout& layout, GroupCache& cache, FileWriter& writer) {
  FileWriter::File file;
  file.index = index;
  file.entry = g_vecRecoverFiles[index];
  const FileEntry& entry = file.entry;
  const ByteRange range = ForkByteRange(entry, layout.allocBlockSize);
  const std::optional<GroupSpan> span = FileGroupSpan(entry, layout);
  if (!span) {
    MarkUnwritten(index, "the catalogue places its data outside the volume or the packed data", writer);
    return true;
  }
  // A large file is not held beside another one.
  if (entry.dataLogicalLength > FileWriter::kLargeFile) writer.Drain();
  file.data = writer.TakeBuffer();  // what an earlier file left there is overwritten below
  file.length = entry.dataLogicalLength;
  try {
    if (file.length > file.data.capacity()) {
      file.data = std::vector<std::uint8_t>();  // nothing to copy over
      file.data.reserve(file.length);
    }
    if (file.data.size() < file.length) file.data.resize(file.length);
  } catch (const std::bad_alloc&) {
    MarkUnwritten(index, "not enough memory to hold it", writer);
    return true;
  }
  // All of the file's groups are in hand before anything of it is written.
  std::vector<GroupBuffer> groups;
  groups.reserve(static_cast<std::size_t>(span->last - span->first + 1));
  for (int g = span->first; g <= span->last; ++g) {
    std::optional<GroupBuffer> kept = cache.Take(g);
    groups.push_back(kept ? std::move(*kept) : cache.TakeSpare());
    if (!kept && !ReadSectorGroup(g, groups.back(), layout.base)) return false;
  }
  const std::span<std::uint8_t> bytes(file.data.data(), file.length);
  const auto extract = [&] {
    return kestrow::ExtractRange(groups, static_cast<std::uint32_t>(range.start),
                                 static_cast<std::uint32_t>(range.end), bytes);
  };
  file.complete = extract();
  if (!file.complete) {
    // The bytes no block supplied must be zeros, not an earlier file's.
    std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
    extract();
  }
  for (int g = span->first; g <= span->last; ++g) {
    cache.Return(g, std::move(groups[static_cast<std::size_t>(g - span->first)]), CacheUse(index, Fork::kData));
  }
  if (g_recoveryOptions.resourceForks && !GatherResourceFork(*this, file, layout, cache)) return false;
  writer.Submit(std::move(file));
  return true;
}

void CKestrowCore::WriteRecoveredFile(FileWriter::File& file, OutputTree& tree) {
  OutputResult result;
  try {
    result = tree.Write(file.entry, std::span<const std::uint8_t>(file.data.data(), file.length), file.rsrcData);
  } catch (const std::exception& e) {  // out of memory for a path, or the like
    result.dataWritten = false;
    result.error = e.what();
  }
  // With resource forks the companion holds part of the file's contents: a
  // file without it is not recovered, although its data file stays.
  if (result.dataWritten && g_recoveryOptions.resourceForks && !result.companionWritten) {
    result.dataWritten = false;
    result.error = "its companion ._ file with the resource fork: " + result.companionError;
  }
  UpdateOutcome([&](RecoveryOutcome& o) {
    if (result.dataWritten) {
      ++o.written;
      o.bytesWritten += file.length;
      if (!file.complete) o.incomplete.push_back(file.index);
    } else {
      o.unwritten.push_back(file.index);
      o.unwrittenReasons.push_back(result.error);
    }
  });
}

}  // namespace kestrow
