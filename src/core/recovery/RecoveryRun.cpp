#include "recovery/RecoveryRun.h"

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

#include "drive/SectorReader.h"
#include "recovery/DataLocation.h"
#include "recovery/FileWriter.h"
#include "recovery/GroupCache.h"
#include "recovery/JobLayout.h"
#include "recovery/JobVolume.h"
#include "recovery/OutputFiles.h"
#include "text/Messages.h"
#include "volume/CatalogScan.h"
#include "volume/PackedFormat.h"
#include "volume/SectorGroup.h"

namespace kestrow {

std::vector<FileEntry> g_vecRecoverFiles;
std::string g_strDestFolder;
RecoveryOptions g_recoveryOptions;

namespace {

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
std::size_t CacheUse(const RecoveryOptions& options, std::size_t file, Fork fork) {
  if (!options.resourceForks) return file;
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

RecoveryRun::RecoveryRun(SectorReader& reader, const std::vector<FileEntry>& files, const std::string& destFolder,
                         const RecoveryOptions& options, std::atomic<bool>& stop, JobStatus& status)
    : m_reader(reader), m_files(files), m_destFolder(destFolder), m_options(options), m_stop(stop),
      m_status(status) {}

std::uint32_t RecoveryRun::Run() {
  try {
    return RunSteps();
  } catch (const std::exception& e) {
    // Out of memory for a group or a file, a writer thread that cannot start:
    // the job ends as failed, and says why. The writer has written what it
    // was handed before its thread ended.
    const std::string why = msg::ExceptionReason(e);
    m_reader.Close();
    m_status.Update([&](RecoveryOutcome& o) {
      o.unreadableSectors = ToSectorSpans(m_damage.unreadable);
      o.failure = why;
      if (o.state == RecoveryState::kRunning) {
        o.failedFile = o.currentFile;
        o.state = RecoveryState::kAborted;
      }
    });
    return kJobCouldNotBegin;
  }
}

std::uint32_t RecoveryRun::Stop(FileWriter& writer, std::size_t next, bool inHand) {
  writer.Drain();  // the files handed over are saved
  m_reader.Close();
  m_status.Update([&](RecoveryOutcome& o) {
    o.unreadableSectors = ToSectorSpans(m_damage.unreadable);
    o.state = RecoveryState::kStopped;
    o.currentFile = next;
    if (inHand && next < o.files.size() && o.files[next].status == FileStatus::kPending) {
      o.files[next] = FileResult{FileStatus::kNotWritten, {}, "the job was stopped while it was read", {}};
    }
  });
  m_stop = false;  // the acknowledgement, once nothing else is left to do
  return m_status.Outcome().written;
}

void RecoveryRun::End(RecoveryState state) {
  m_status.Update([&](RecoveryOutcome& o) {
    o.unreadableSectors = ToSectorSpans(m_damage.unreadable);
    o.state = state;
  });
}

bool RecoveryRun::PrepareJob() {
  const auto fail = [&](RecoveryState state, std::string why) {
    m_status.Update([&](RecoveryOutcome& o) {
      o.unreadableSectors = ToSectorSpans(m_damage.unreadable);
      o.state = state;
      o.failure = std::move(why);
    });
    return false;
  };
  // With keep-going, the volume area where it can be read, the packed copy
  // where not.
  JobVolume volume;
  const bool loaded = LoadJobVolume(m_reader, m_layout.policy, m_layout.policy.keepGoing, volume);
  m_damage.unreadable.insert(m_damage.unreadable.end(), volume.unreadable.begin(), volume.unreadable.end());
  if (volume.salvaged) m_status.Update([&](RecoveryOutcome& o) { o.salvage = volume.salvage; });
  switch (volume.failed) {
    case JobVolumeFailure::kNone:
      break;
    case JobVolumeFailure::kDiscChanged:
      return fail(RecoveryState::kDiscChanged, {});
    case JobVolumeFailure::kNoMdb:
      return fail(RecoveryState::kFailedEarly, volume.salvaged ? volume.failure
                                                               : "the volume's master directory block could not be read");
    default:
      return fail(RecoveryState::kFailedEarly, volume.failure);
  }
  if (!loaded) return fail(RecoveryState::kFailedEarly, volume.failure);
  const MasterDirectoryBlock& mdb = volume.mdb;
  std::size_t lostNodes = 0;
  if (m_options.listedVolume) {
    if (mdb.VolumeName() != m_options.listedVolume->name || mdb.drCrDate() != m_options.listedVolume->createDate) {
      return fail(RecoveryState::kDifferentDisc, "the disc holds the volume " + Quoted(mdb.VolumeName()) +
                                                     ", not the one the list was read from");
    }
    FileTable onDisc;  // deleted files may be chosen too
    ListCatalogFiles(volume.image, onDisc, volume.unreadableBytes, lostNodes, true);
    if (!SelectionOnVolume(m_files, onDisc, lostNodes > 0)) {
      return fail(RecoveryState::kDifferentDisc,
                  "the catalogue on the disc does not hold the files of the list as they were listed");
    }
  } else if (!volume.unreadableBytes.empty()) {
    lostNodes = ScanCatalogRecords(volume.image, volume.unreadableBytes).lostNodes;
  }
  m_status.Update([&](RecoveryOutcome& o) { o.lostCatalogNodes = lostNodes; });
  const ReadPolicy policy = m_layout.policy;
  m_layout = std::move(volume.layout);
  m_layout.policy = policy;
  return true;
}

std::uint32_t RecoveryRun::RunSteps() {
  if (!m_reader.Open()) {
    m_openFailed = true;
    m_status.Update([](RecoveryOutcome& o) { o.state = RecoveryState::kFailedEarly; });
    return kJobCouldNotBegin;
  }
  m_layout.policy = ReadPolicy{m_options.retries, m_options.keepGoing};
  if (!PrepareJob()) {
    m_reader.Close();
    if (m_stop) {  // stopped while the volume was read: no file was begun
      End(RecoveryState::kStopped);
      m_stop = false;
    }
    return kJobCouldNotBegin;
  }
  // Every group is read once per job while the groups kept for later files
  // fit in the budget. Files are written in job order on a second thread
  // while the next one is read and decoded.
  GroupCache cache(JobGroupSets(m_files, m_layout, m_options.resourceForks), kGroupCacheBudget);
  OutputNames names;  // keeps files whose names collide once sanitized apart; the writer's alone
  OutputTree tree(m_destFolder, OutputOptionsOf(m_options), SourceIdentities(m_reader.GetTransport()), &names);
  FileWriter writer([this, &tree](FileWriter::File& file) { WriteRecoveredFile(file, tree); });

  for (std::size_t i = 0;; ++i) {
    if (i >= m_files.size()) {
      writer.Drain();
      m_reader.Close();
      // The damage is in the outcome before anyone can see the job has ended.
      std::uint32_t written = 0;
      m_status.Update([&](RecoveryOutcome& o, std::string& text) {
        o.unreadableSectors = ToSectorSpans(m_damage.unreadable);
        o.state = RecoveryState::kFinished;
        text.clear();
        written = o.written;
      });
      return written;
    }
    if (m_stop) return Stop(writer, i, false);
    m_status.Update([&](RecoveryOutcome& o, std::string& text) {
      text = m_files[i].name;
      o.currentFile = i;
    });
    if (!RecoverFile(i, cache, writer)) {
      // Stopped within the file: it is not written, the ones before it are.
      if (m_stop && !m_reader.DiscChanged()) return Stop(writer, i, true);
      writer.Drain();  // the files before this one are saved
      m_reader.Close();
      const bool changed = m_reader.DiscChanged();
      m_status.Update([&](RecoveryOutcome& o) {
        o.unreadableSectors = ToSectorSpans(m_damage.unreadable);
        o.state = changed ? RecoveryState::kDiscChanged : RecoveryState::kFailedAtFile;
        o.failedFile = i;
        o.files[i] = FileResult{FileStatus::kNotWritten, {},
                                changed ? "the disc was changed while it was read"
                                        : "a sector of its data could not be read",
                                {}};
      });
      return m_status.Outcome().written;
    }
  }
}

void RecoveryRun::MarkUnwritten(std::size_t index, std::string reason, FileWriter& writer) {
  writer.Drain();  // the files before this one are counted first
  m_status.Update([&](RecoveryOutcome& o) {
    o.files[index] = FileResult{FileStatus::kNotWritten, {}, reason, {}};
    o.unwritten.push_back(index);
    o.unwrittenReasons.push_back(std::move(reason));
  });
}

bool RecoveryRun::ReadFileGroups(const std::vector<int>& groupSet, GroupCache& cache,
                                 std::vector<GroupBuffer>& groups) {
  const JobLayout& layout = m_layout;
  JobDamage& damage = m_damage;
  groups.reserve(groupSet.size());
  const UnreadableSink note = [&damage](std::int32_t lba) { damage.unreadable.push_back(lba); };
  for (const int g : groupSet) {
    std::optional<GroupBuffer> kept = cache.Take(g);
    groups.push_back(kept ? std::move(*kept) : cache.TakeSpare());
    if (kept) continue;
    GroupSectorMask unreadable;
    const bool whole = ReadSectorGroup(m_reader, g, groups.back(), layout.base, layout.policy, unreadable, note);
    // A stopped read leaves the group unread, not damaged.
    if (m_reader.DiscChanged() || m_stop || (!whole && !layout.policy.keepGoing)) return false;
    if (unreadable.any()) {
      damage.groupMasks[g] = unreadable;
      if (ReadGroupBlocks(groups.back(), unreadable).tableLost) {
        m_status.Update([g](RecoveryOutcome& o) { AddLostGroup(o.salvage, g); });
      }
    } else {
      damage.groupMasks.erase(g);
    }
  }
  return true;
}

bool RecoveryRun::RecoverFile(std::size_t index, GroupCache& cache, FileWriter& writer) {
  const JobLayout& layout = m_layout;
  if (m_reader.DiscChanged()) return false;
  FileWriter::File file;
  file.index = index;
  file.entry = m_files[index];
  const FileEntry& entry = file.entry;
  const auto handled = [&] { m_status.Update([&](RecoveryOutcome& o) { o.bytesDone += entry.dataLogicalLength; }); };
  const std::optional<ForkPlacement> placement = PlaceFork(entry, layout);
  if (!placement) {
    const std::string why = "the catalogue places its data outside the volume or the packed data";
    if (layout.policy.keepGoing) {
      // None of its bytes can be read: a salvage counts it as lost.
      m_status.Update([&](RecoveryOutcome& o) {
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
  if (!ReadFileGroups(placement->groups, cache, groups)) return false;
  const std::span<std::uint8_t> bytes(file.data.data(), file.length);
  file.lostRanges = ExtractFork(*placement, groups, m_damage, layout.policy.keepGoing, bytes);
  file.complete = file.lostRanges.empty();
  for (std::size_t k = 0; k < groups.size(); ++k) {
    cache.Return(placement->groups[k], std::move(groups[k]), CacheUse(m_options, index, Fork::kData));
  }
  if (m_options.resourceForks && !GatherResourceFork(file, cache)) return false;
  handled();
  const bool nothingRead = file.length > 0 && file.lostRanges.size() == 1 && file.lostRanges[0].begin == 0 &&
                           file.lostRanges[0].end == file.length &&
                           (file.rsrcData.empty() || (file.rsrcLostRanges.size() == 1 &&
                                                      file.rsrcLostRanges[0].end == file.rsrcData.size()));
  // Nothing read after the disc may have changed is written, whatever it is,
  // nor a file whose reading was stopped.
  if (m_reader.DiscChanged() || m_stop) return false;
  if (layout.policy.keepGoing && nothingRead) {
    // Not a byte of it could be read: nothing is written for it.
    m_status.Update([&](RecoveryOutcome& o) {
      o.files[index] = FileResult{FileStatus::kLost, std::move(file.lostRanges), {}, {}};
    });
    writer.GiveBackBuffer(std::move(file.data));
    return true;
  }
  writer.Submit(std::move(file));
  return true;
}

bool RecoveryRun::GatherResourceFork(FileWriter::File& file, GroupCache& cache) {
  const JobLayout& layout = m_layout;
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
  if (!ReadFileGroups(placement->groups, cache, groups)) return false;
  file.rsrcLostRanges = ExtractFork(*placement, groups, m_damage, layout.policy.keepGoing, file.rsrcData);
  if (!file.rsrcLostRanges.empty()) file.complete = false;
  for (std::size_t k = 0; k < groups.size(); ++k) {
    cache.Return(placement->groups[k], std::move(groups[k]), CacheUse(m_options, file.index, Fork::kResource));
  }
  return true;
}

void RecoveryRun::WriteRecoveredFile(FileWriter::File& file, OutputTree& tree) {
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
    result.error = std::string(m_options.resourceForks ? "its companion ._ file with the resource fork: "
                                                                : "its companion ._ file: ") +
                   result.companionError;
  }
  const bool keepGoing = m_options.keepGoing;
  m_status.Update([&](RecoveryOutcome& o) {
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
