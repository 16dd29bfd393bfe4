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
#include <system_error>
#include <unordered_map>

#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/FileWriter.h"
#include "recovery/GroupCache.h"
#include "recovery/JobLayout.h"
#include "recovery/OutputFiles.h"
#include "volume/CatalogScan.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

namespace kestrow {

std::vector<FileEntry> g_vecRecoverFiles;
std::string g_strDestFolder;
RecoveryOptions g_recoveryOptions;

namespace {

constexpr std::uint32_t kJobCouldNotBegin = std::numeric_limits<std::uint32_t>::max();

// True when the "Pack" table's bytes, its signature, count and entries, all
// lie outside the bytes that could not be read.
bool PackTableReadable(const std::vector<ByteSpan>& unreadable, std::size_t entries) {
  return !Overlaps(unreadable, format::kPackTableOffset,
                   format::kPackEntriesOffset + entries * format::kPackEntrySize);
}

// True when every selected file has the same catalogue record in `table`. A
// file whose record lay in a catalogue node that could not be read cannot be
// checked; it passes when `nodesLost`.
bool SelectionOnVolume(const std::vector<FileEntry>& selected, const FileTable& table, bool nodesLost) {
  std::unordered_multimap<std::uint32_t, const FileEntry*> byId;
  for (const FileEntry& entry : table) byId.emplace(entry.fileId, &entry);
  for (const FileEntry& wanted : selected) {
    const auto [first, last] = byId.equal_range(wanted.fileId);
    const bool found = std::any_of(first, last, [&](const auto& item) { return *item.second == wanted; });
    if (!found && !(nodesLost && first == last)) return false;
  }
  return true;
}

// Fills `out`, a fork's bytes, run by run from the groups read for
// `placement` (in its order of groups), and returns the fork's ranges that
// no block supplied; they are zeros. With keep-going, blocks that touch an
// unreadable sector are lost too.
std::vector<ByteSpan> ExtractFork(const ForkPlacement& placement, const std::vector<GroupBuffer>& groups,
                                  const JobDamage& damage, bool keepGoing, std::span<std::uint8_t> out) {
  std::vector<ByteSpan> lost = placement.unplaced;
  for (const ByteSpan& gap : placement.unplaced) {
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(gap.begin), out.begin() + static_cast<std::ptrdiff_t>(gap.end),
              std::uint8_t{0});
  }
  for (const PlacedPiece& placed : placement.pieces) {
    const std::size_t first = placement.FirstGroupIndex(placed);
    const auto count = static_cast<std::size_t>(placed.span.last - placed.span.first + 1);
    const std::span<const GroupBuffer> pieceGroups(groups.data() + first, count);
    const std::span<std::uint8_t> pieceOut = out.subspan(placed.piece.at, placed.piece.length);
    const auto start = static_cast<std::uint32_t>(placed.piece.start);
    const auto end = static_cast<std::uint32_t>(placed.piece.start + placed.piece.length);
    std::vector<ByteSpan> pieceLost;
    if (keepGoing) {
      std::vector<GroupSectorMask> masks;
      for (int g = placed.span.first; g <= placed.span.last; ++g) {
        const auto damaged = damage.groupMasks.find(g);
        masks.push_back(damaged == damage.groupMasks.end() ? GroupSectorMask{} : damaged->second);
      }
      pieceLost = ExtractReadableRange(pieceGroups, masks, start, end, pieceOut);
    } else if (!ExtractRange(pieceGroups, start, end, pieceOut)) {
      // The bytes no block supplied must be zeros, not an earlier file's.
      std::fill(pieceOut.begin(), pieceOut.end(), std::uint8_t{0});
      ExtractRange(pieceGroups, start, end, pieceOut, &pieceLost);
    }
    for (const ByteSpan& gap : pieceLost) {
      lost.push_back(ByteSpan{gap.begin + placed.piece.at, gap.end + placed.piece.at});
    }
  }
  return MergeSpans(std::move(lost));
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The group cache counts the uses of groups: one per file, or two (the data
// fork, then the resource fork) when the job copies resource forks out.
std::size_t CacheUse(std::size_t file, Fork fork) {
  if (!g_recoveryOptions.resourceForks) return file;
  return 2 * file + (fork == Fork::kResource ? 1 : 0);
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
  ResetReadStatistics();  // what this job's reads meet, for its end
  m_bStopRequest = false;
  std::uint64_t bytesTotal = 0;
  for (const FileEntry& entry : selected) bytesTotal += entry.dataLogicalLength;
  UpdateOutcome([&](RecoveryOutcome& o) {
    o = RecoveryOutcome{};
    o.state = RecoveryState::kRunning;
    o.fileCount = selected.size();
    o.files.resize(selected.size());
    o.bytesTotal = bytesTotal;
  });
  m_bWorkerRunning = true;
  try {
    m_hThread = std::thread(RecoveryThreadProc, this);
  } catch (const std::system_error& e) {
    m_bWorkerRunning = false;
    UpdateOutcome([&](RecoveryOutcome& o) {
      o.state = RecoveryState::kAborted;
      o.failure = std::string("the job's thread could not be started: ") + e.what();
    });
  }
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

RecoveryProgress CKestrowCore::GetRecoveryProgress() const {
  std::lock_guard<std::mutex> lock(m_statusLock);
  return RecoveryProgress{m_outcome.state, m_outcome.fileCount, m_outcome.currentFile, m_outcome.bytesDone,
                          m_outcome.bytesTotal};
}

void CKestrowCore::UpdateOutcome(const std::function<void(RecoveryOutcome&)>& change) {
  std::lock_guard<std::mutex> lock(m_statusLock);
  change(m_outcome);
}

std::uint32_t CKestrowCore::RunRecovery() {
  JobDamage damage;
  try {
    return RunRecoverySteps(damage);
  } catch (const std::exception& e) {
    // Out of memory for a group or a file, a writer thread that cannot start:
    // the job ends as failed, and says why. The writer has written what it
    // was handed before its thread ended.
    const std::string why = msg::ExceptionReason(e);
    CloseDevice();
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_outcome.unreadableSectors = ToSectorSpans(damage.unreadable);
    m_outcome.failure = why;
    if (m_outcome.state == RecoveryState::kRunning) {
      m_outcome.failedFile = m_outcome.currentFile;
      m_outcome.state = RecoveryState::kAborted;
    }
    return kJobCouldNotBegin;
  }
}

bool CKestrowCore::PrepareJob(JobLayout& layout, JobDamage& damage) {
  const RecoveryOptions& options = g_recoveryOptions;
  const auto fail = [&](RecoveryState state, std::string why) {
    UpdateOutcome([&](RecoveryOutcome& o) {
      o.unreadableSectors = ToSectorSpans(damage.unreadable);
      o.state = state;
      o.failure = std::move(why);
    });
    return false;
  };
  VolumeImage loadedImage;
  VolumeAreaRead area;
  MasterDirectoryBlock mdb;
  std::vector<std::int32_t> boundaries;
  std::optional<SalvagedVolume> salvaged;
  if (layout.policy.keepGoing) {
    // The volume area where it can be read, the packed copy where not.
    salvaged.emplace();
    const bool loaded = ReadSalvagedVolume(*salvaged, layout.policy);
    damage.unreadable.insert(damage.unreadable.end(), salvaged->unreadable.begin(), salvaged->unreadable.end());
    UpdateOutcome([&](RecoveryOutcome& o) { o.salvage = FactsOf(*salvaged); });
    if (DiscChanged()) return fail(RecoveryState::kDiscChanged, {});
    if (!loaded) return fail(RecoveryState::kFailedEarly, salvaged->failure);
    ReadMasterDirectoryBlock(salvaged->image, mdb);
    area = salvaged->area;
    area.unreadableBytes = salvaged->unreadableBytes;
  } else {
    const bool loaded = ReadVolumeImage(loadedImage, area, layout.policy);
    damage.unreadable.insert(damage.unreadable.end(), area.unreadable.begin(), area.unreadable.end());
    if (area.failedLba >= 0) damage.unreadable.push_back(area.failedLba);
    if (DiscChanged()) return fail(RecoveryState::kDiscChanged, {});
    if (!loaded) return fail(RecoveryState::kFailedEarly, DescribeVolumeAreaFailure(area));
    if (!ReadMasterDirectoryBlock(loadedImage, mdb) ||
        Overlaps(area.unreadableBytes, format::kMdbOffset, format::kMdbOffset + format::kMdbSize)) {
      return fail(RecoveryState::kFailedEarly, "the volume's master directory block could not be read");
    }
    if (!ReadPackTable(loadedImage, boundaries) || !PackTableReadable(area.unreadableBytes, boundaries.size())) {
      return fail(RecoveryState::kFailedEarly, "the volume area holds no readable \"Pack\" table");
    }
  }
  const VolumeImage& image = salvaged ? salvaged->image : loadedImage;
  std::size_t lostNodes = 0;
  if (options.listedVolume) {
    if (mdb.VolumeName() != options.listedVolume->name || mdb.drCrDate() != options.listedVolume->createDate) {
      return fail(RecoveryState::kDifferentDisc, "the disc holds the volume " + Quoted(mdb.VolumeName()) +
                                                     ", not the one the list was read from");
    }
    FileTable onDisc;
    ScanCatalog(image, onDisc, area.unreadableBytes, lostNodes, true);  // deleted files may be chosen too
    if (!SelectionOnVolume(g_vecRecoverFiles, onDisc, lostNodes > 0)) {
      return fail(RecoveryState::kDifferentDisc,
                  "the catalogue on the disc does not hold the files of the list as they were listed");
    }
  } else if (!area.unreadableBytes.empty()) {
    lostNodes = ScanCatalogRecords(image, area.unreadableBytes).lostNodes;
  }
  UpdateOutcome([&](RecoveryOutcome& o) { o.lostCatalogNodes = lostNodes; });

  const ReadPolicy policy = layout.policy;
  layout = salvaged ? MakeJobLayout(*salvaged, mdb) : MakeJobLayout(area, image.size(), std::move(boundaries), mdb);
  layout.policy = policy;
  return true;
}

std::uint32_t CKestrowCore::RunRecoverySteps(JobDamage& damage) {
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    UpdateOutcome([](RecoveryOutcome& o) { o.state = RecoveryState::kFailedEarly; });
    return kJobCouldNotBegin;
  }
  JobLayout layout;
  layout.policy = ReadPolicy{g_recoveryOptions.retries, g_recoveryOptions.keepGoing};
  if (!PrepareJob(layout, damage)) {
    CloseDevice();
    return kJobCouldNotBegin;
  }
  // Every group is read once per job while the groups kept for later files
  // fit in the budget. Files are written in job order on a second thread
  // while the next one is read and decoded.
  GroupCache cache(JobGroupSets(g_vecRecoverFiles, layout, g_recoveryOptions.resourceForks), kGroupCacheBudget);
  OutputNames names;  // keeps files whose names collide once sanitized apart; the writer's alone
  OutputTree tree(g_strDestFolder, OutputOptionsOf(g_recoveryOptions), SourceIdentities(*m_pTransport), &names);
  FileWriter writer([this, &tree](FileWriter::File& file) { WriteRecoveredFile(file, tree); });

  for (std::size_t i = 0;; ++i) {
    if (i >= g_vecRecoverFiles.size()) {
      writer.Drain();
      CloseDevice();
      // The damage is in the outcome before anyone can see the job has ended.
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_outcome.unreadableSectors = ToSectorSpans(damage.unreadable);
      m_outcome.state = RecoveryState::kFinished;
      m_strStatus.clear();
      return m_outcome.written;
    }
    if (m_bStopRequest) {
      writer.Drain();  // the file in hand is saved
      CloseDevice();
      UpdateOutcome([&](RecoveryOutcome& o) {
        o.unreadableSectors = ToSectorSpans(damage.unreadable);
        o.state = RecoveryState::kStopped;
      });
      m_bStopRequest = false;  // the acknowledgement, once nothing else is left to do
      return GetRecoveryOutcome().written;
    }
    {
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_strStatus = g_vecRecoverFiles[i].name;
      m_outcome.currentFile = i;
    }
    if (!RecoverFile(i, layout, cache, writer, damage)) {
      writer.Drain();  // the files before this one are saved
      CloseDevice();
      const bool changed = DiscChanged();
      UpdateOutcome([&](RecoveryOutcome& o) {
        o.unreadableSectors = ToSectorSpans(damage.unreadable);
        o.state = changed ? RecoveryState::kDiscChanged : RecoveryState::kFailedAtFile;
        o.failedFile = i;
        o.files[i] = FileResult{FileStatus::kNotWritten, {},
                                changed ? "the disc was changed while it was read"
                                        : "a sector of its data could not be read",
                                {}};
      });
      return GetRecoveryOutcome().written;
    }
  }
}

void CKestrowCore::MarkUnwritten(std::size_t index, std::string reason, FileWriter& writer) {
  writer.Drain();  // the files before this one are counted first
  UpdateOutcome([&](RecoveryOutcome& o) {
    o.files[index] = FileResult{FileStatus::kNotWritten, {}, reason, {}};
    o.unwritten.push_back(index);
    o.unwrittenReasons.push_back(std::move(reason));
  });
}

bool CKestrowCore::ReadFileGroups(const std::vector<int>& groupSet, const JobLayout& layout, GroupCache& cache,
                                  std::vector<GroupBuffer>& groups, JobDamage& damage) {
  groups.reserve(groupSet.size());
  const UnreadableSink note = [&damage](std::int32_t lba) { damage.unreadable.push_back(lba); };
  for (const int g : groupSet) {
    std::optional<GroupBuffer> kept = cache.Take(g);
    groups.push_back(kept ? std::move(*kept) : cache.TakeSpare());
    if (kept) continue;
    GroupSectorMask unreadable;
    const bool whole = ReadSectorGroup(g, groups.back(), layout.base, layout.policy, unreadable, note);
    if (DiscChanged() || (!whole && !layout.policy.keepGoing)) return false;
    if (unreadable.any()) {
      damage.groupMasks[g] = unreadable;
      if (ReadGroupBlocks(groups.back(), unreadable).tableLost) {
        UpdateOutcome([g](RecoveryOutcome& o) { AddLostGroup(o.salvage, g); });
      }
    } else {
      damage.groupMasks.erase(g);
    }
  }
  return true;
}

bool CKestrowCore::RecoverFile(std::size_t index, const JobLayout& layout, GroupCache& cache, FileWriter& writer,
                               JobDamage& damage) {
  if (DiscChanged()) return false;
  FileWriter::File file;
  file.index = index;
  file.entry = g_vecRecoverFiles[index];
  const FileEntry& entry = file.entry;
  const auto handled = [&] { UpdateOutcome([&](RecoveryOutcome& o) { o.bytesDone += entry.dataLogicalLength; }); };
  const std::optional<ForkPlacement> placement = PlaceFork(entry, layout);
  if (!placement) {
    const std::string why = "the catalogue places its data outside the volume or the packed data";
    if (layout.policy.keepGoing) {
      // None of its bytes can be read: a salvage counts it as lost.
      UpdateOutcome([&](RecoveryOutcome& o) {
        o.files[index] = FileResult{FileStatus::kLost, {{0, entry.dataLogicalLength}}, why, {}};
      });
    } else {
      MarkUnwritten(index, why, writer);
    }
    handled();
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
    handled();
    return true;
  }
  // All of the file's groups are in hand before anything of it is written.
  std::vector<GroupBuffer> groups;
  if (!ReadFileGroups(placement->groups, layout, cache, groups, damage)) return false;
  const std::span<std::uint8_t> bytes(file.data.data(), file.length);
  file.lostRanges = ExtractFork(*placement, groups, damage, layout.policy.keepGoing, bytes);
  file.complete = file.lostRanges.empty();
  for (std::size_t k = 0; k < groups.size(); ++k) {
    cache.Return(placement->groups[k], std::move(groups[k]), CacheUse(index, Fork::kData));
  }
  if (g_recoveryOptions.resourceForks && !GatherResourceFork(file, layout, cache, damage)) return false;
  handled();
  const bool nothingRead = file.length > 0 && file.lostRanges.size() == 1 && file.lostRanges[0].begin == 0 &&
                           file.lostRanges[0].end == file.length &&
                           (file.rsrcData.empty() || (file.rsrcLostRanges.size() == 1 &&
                                                      file.rsrcLostRanges[0].end == file.rsrcData.size()));
  // Nothing read after the disc may have changed is written, whatever it is.
  if (DiscChanged()) return false;
  if (layout.policy.keepGoing && nothingRead) {
    // Not a byte of it could be read: nothing is written for it.
    UpdateOutcome([&](RecoveryOutcome& o) {
      o.files[index] = FileResult{FileStatus::kLost, std::move(file.lostRanges), {}, {}};
    });
    writer.GiveBackBuffer(std::move(file.data));
    return true;
  }
  writer.Submit(std::move(file));
  return true;
}

bool CKestrowCore::GatherResourceFork(FileWriter::File& file, const JobLayout& layout, GroupCache& cache,
                                      JobDamage& damage) {
  const FileEntry& entry = file.entry;
  const std::optional<ForkPlacement> placement = PlaceFork(entry, layout, Fork::kResource);
  const ByteSpan whole{0, entry.rsrcLogicalLength};
  try {
    if (placement) file.rsrcData.assign(entry.rsrcLogicalLength, 0);
  } catch (const std::bad_alloc&) {
    file.rsrcData.clear();
  }
  if (!placement || file.rsrcData.size() != entry.rsrcLogicalLength) {
    file.complete = false;
    file.rsrcLostRanges.assign(1, whole);
    return true;
  }
  if (entry.rsrcLogicalLength == 0) return true;
  std::vector<GroupBuffer> groups;
  if (!ReadFileGroups(placement->groups, layout, cache, groups, damage)) return false;
  file.rsrcLostRanges = ExtractFork(*placement, groups, damage, layout.policy.keepGoing, file.rsrcData);
  if (!file.rsrcLostRanges.empty()) file.complete = false;
  for (std::size_t k = 0; k < groups.size(); ++k) {
    cache.Return(placement->groups[k], std::move(groups[k]), CacheUse(file.index, Fork::kResource));
  }
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
  // The companion holds the file's type and creator (with resource forks,
  // part of its contents too): a file without it is not recovered, although
  // its data file stays.
  if (result.dataWritten && !result.companionWritten) {
    result.dataWritten = false;
    result.error = std::string(g_recoveryOptions.resourceForks ? "its companion ._ file with the resource fork: "
                                                                : "its companion ._ file: ") +
                   result.companionError;
  }
  const bool keepGoing = g_recoveryOptions.keepGoing;
  UpdateOutcome([&](RecoveryOutcome& o) {
    if (result.dataWritten) {
      ++o.written;
      o.bytesWritten += file.length;
      if (!file.complete && !keepGoing) o.incomplete.push_back(file.index);
      const FileStatus status = file.complete ? FileStatus::kWhole : FileStatus::kDamaged;
      o.files[file.index] = FileResult{status, std::move(file.lostRanges), {}, std::move(file.rsrcLostRanges)};
    } else {
      o.files[file.index] = FileResult{FileStatus::kNotWritten, {}, result.error, {}};
      o.unwritten.push_back(file.index);
      o.unwrittenReasons.push_back(result.error);
    }
  });
}

}  // namespace kestrow
