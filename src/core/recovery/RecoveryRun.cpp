#include "recovery/RecoveryRun.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <type_traits>
#include <unordered_map>

#include "drive/SectorReader.h"
#include "recovery/BufferPool.h"
#include "recovery/DataLocation.h"
#include "recovery/HelperThread.h"
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

// Decoded files in flight between the reader and the disk: a batch holds at
// most kBatchBytes of them (or kBatchFiles files) in its arena, and is handed
// over when full or before the disc is read again; the batches handed over
// and not yet written weigh at most kInFlight; a file larger than
// kLargeFile is only begun once every file before it is written, so that at
// most one such buffer is held.
constexpr std::size_t kBatchBytes = std::size_t{2} * 1024 * 1024;
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kInFlight = std::size_t{8} * 1024 * 1024;
constexpr std::size_t kLargeFile = std::size_t{16} * 1024 * 1024;
constexpr std::size_t kFileWeight = 4096;  // a file's own cost beside its bytes
constexpr std::size_t kPartBlocks = 256;    // a large file's blocks handed over at a time

// A group shared with the decoders; its memory goes back to `pool` when the
// last of them lets it go.
SharedGroup Share(GroupBuffer buffer, BufferPool& pool) {
  return std::shared_ptr<GroupBuffer>(new GroupBuffer(std::move(buffer)), [&pool](GroupBuffer* group) {
    pool.Give(std::move(*group));
    delete group;
  });
}

// True when every block of `plan` fills bytes after the ones before it: the
// blocks may then be decoded at once, in any order.
bool Disjoint(const RangePlan& plan) {
  std::int64_t end = 0;
  for (const BlockCopy& copy : plan.copies) {
    if (copy.at < end) return false;
    end = copy.at + copy.length;
  }
  return true;
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

// Blocks of a large file decoded while the rest of its groups is read; the
// file is written with its last blocks, in a later batch.
class RecoveryRun::ForkPart final : public DecodeBatch {
 public:
  void Write() override {}

  std::vector<SharedGroup> groups;  // the blocks' groups
  FileMemory memory;                // where they decode to
};

// One file of a batch, as the writer's thread settles it.
struct RecoveredFile {
  enum class Outcome { kWrite, kNotWritten, kLost };
  Outcome outcome = Outcome::kWrite;
  std::size_t index = 0;  // in the job
  FileEntry entry;
  std::span<std::uint8_t> data;      // the file's bytes: in the batch's arena, or in `own`
  FileMemory own;                    // a file too large for the arena
  bool complete = true;              // every byte came from a block on the disc
  std::vector<ByteSpan> lostRanges;  // the bytes that did not, when not complete
  std::vector<std::uint8_t> rsrcData;  // the resource fork, when the job copies it out
  std::vector<ByteSpan> rsrcLostRanges;
  std::string reason;  // why it is not written
};
static_assert(std::is_nothrow_move_constructible_v<RecoveredFile>, "a file moves into its batch without failing");

// Files handed over together: their blocks, the groups those are decoded
// from, and the arena that holds the files' bytes.
class RecoveryRun::FileBatch final : public DecodeBatch {
 public:
  FileBatch(RecoveryRun& run, BufferPool& arenas, BasicBufferPool<UninitializedBytes>& large)
      : m_run(run), m_arenas(arenas), m_large(large) {
    arena = m_arenas.Take(kBatchBytes);
    arena.resize(kBatchBytes);  // a new arena's memory only is touched here
  }
  ~FileBatch() override {
    // The parts of a file decoded before it let its memory go before it.
    for (RecoveredFile& file : files) {
      if (file.own && file.own.use_count() == 1) m_large.Give(std::move(*file.own));
    }
    m_arenas.Give(std::move(arena));
  }
  FileBatch(const FileBatch&) = delete;
  FileBatch& operator=(const FileBatch&) = delete;

  void Write() override { m_run.SettleBatch(files); }

  std::vector<RecoveredFile> files;
  std::vector<SharedGroup> groups;
  std::vector<std::uint8_t> arena;
  std::size_t arenaUsed = 0;

 private:
  RecoveryRun& m_run;
  BufferPool& m_arenas;
  BasicBufferPool<UninitializedBytes>& m_large;
};

// What the run needs while it reads files. Its members end in reverse order:
// the batch being filled first, then the pipeline (which writes what was
// handed over), the output tree, the cache, and the memory they gave back.
struct RecoveryRun::Flow {
  Flow(std::vector<std::vector<int>> groupSets, const std::string& destFolder, const RecoveryOptions& options,
       std::vector<FileIdentity> keep)
      : cache(std::move(groupSets), kGroupCacheBudget),
        tree(destFolder, OutputOptionsOf(options), std::move(keep), &names),
        writerHelper(MakeHelper()), pipeline(DecodePipeline::DecodersForThisMachine(), kInFlight) {}

  // A second writing thread where the machine has a second core, none where
  // it cannot start: the writer then writes alone.
  static std::unique_ptr<HelperThread> MakeHelper() {
    if (DecodePipeline::DecodersForThisMachine() < 2) return nullptr;
    try {
      return std::make_unique<HelperThread>();
    } catch (const std::system_error&) {
      return nullptr;
    }
  }

  BufferPool arenas{kInFlight / kBatchBytes + 2};
  BasicBufferPool<UninitializedBytes> large{1};  // the last large file's memory, for the next one
  BufferPool groupMemory{8};
  GroupCache cache;
  OutputNames names;  // keeps files whose names collide once sanitized apart; the writer's alone
  OutputTree tree;
  std::unique_ptr<HelperThread> writerHelper;  // writes files of a folder beside the writer
  DecodePipeline pipeline;
  std::unique_ptr<FileBatch> batch;  // being filled, not handed over
};

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

std::uint32_t RecoveryRun::Stop(std::size_t next, bool inHand) {
  FlushAndDrain();  // the files read whole are saved
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
  // fit in the budget. Decoders on every core decode the files' blocks and a
  // writer thread writes them in job order while the next ones are read.
  struct Forget {  // ends after the flow, whose pipeline may still write with it
    RecoveryRun* run;
    ~Forget() { run->m_flow = nullptr; }
  } forget{this};
  Flow flow(JobGroupSets(m_files, m_layout, m_options.resourceForks), m_destFolder, m_options,
            SourceIdentities(m_reader.GetTransport()));
  m_flow = &flow;
  try {
    return RecoverFiles();
  } catch (...) {
    // Out of memory, most likely: the files read whole before are saved.
    try {
      FlushAndDrain();
    } catch (...) {  // the first failure is the one the job reports
    }
    throw;
  }
}

std::uint32_t RecoveryRun::RecoverFiles() {
  for (std::size_t i = 0;; ++i) {
    if (i >= m_files.size()) {
      FlushAndDrain();
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
    if (m_stop) return Stop(i, false);
    m_status.Update([&](RecoveryOutcome& o, std::string& text) {
      text = m_files[i].name;
      o.currentFile = i;
    });
    if (!RecoverFile(i)) {
      // Stopped within the file: it is not written, the ones before it are.
      if (m_stop && !m_reader.DiscChanged()) return Stop(i, true);
      FlushAndDrain();  // the files before this one are saved
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

RecoveryRun::FileBatch& RecoveryRun::Batch() {
  if (!m_flow->batch) m_flow->batch = std::make_unique<FileBatch>(*this, m_flow->arenas, m_flow->large);
  return *m_flow->batch;
}

void RecoveryRun::HandBatchOver() {
  FileBatch& batch = *m_flow->batch;
  batch.weight += batch.arena.size();  // held until written, however much of it is used
  m_flow->pipeline.Submit(std::move(m_flow->batch));
}

void RecoveryRun::FlushAndDrain() {
  if (m_flow->batch && !m_flow->batch->files.empty()) HandBatchOver();
  m_flow->pipeline.Drain();
}

void RecoveryRun::Hand(RecoveredFile file, std::vector<DecodeBlock>& blocks, std::vector<SharedGroup>& groups) {
  FileBatch& batch = Batch();
  // The room first: a file is in the batch with all of its blocks, or not at all.
  batch.blocks.reserve(batch.blocks.size() + blocks.size());
  batch.groups.reserve(batch.groups.size() + groups.size());
  batch.files.reserve(batch.files.size() + 1);
  batch.weight += (file.own ? file.data.size() : 0) + file.rsrcData.size() + kFileWeight;
  batch.blocks.insert(batch.blocks.end(), blocks.begin(), blocks.end());
  for (SharedGroup& group : groups) {
    if (batch.groups.empty() || batch.groups.back() != group) batch.groups.push_back(std::move(group));
  }
  batch.files.push_back(std::move(file));
  if (batch.files.size() >= kBatchFiles || batch.weight + batch.arenaUsed >= kBatchBytes) HandBatchOver();
}

std::span<std::uint8_t> RecoveryRun::RoomFor(RecoveredFile& file, std::size_t length) {
  if (length > kBatchBytes) {
    if (length > kLargeFile) FlushAndDrain();  // a very large file is not held beside another one
    // Not zeroed: the blocks and the zeros of the gaps between them fill it.
    file.own = std::make_shared<UninitializedBytes>(m_flow->large.Take(0));
    UninitializedBytes& own = *file.own;
    if (own.capacity() < length) {  // the smaller one is let go first
      own = UninitializedBytes();  // nothing to copy over
      own.reserve(length);
    }
    own.resize(length);
    return {own.data(), length};
  }
  if (m_flow->batch && m_flow->batch->arenaUsed + length > kBatchBytes) HandBatchOver();
  FileBatch& batch = Batch();
  const std::span<std::uint8_t> room(batch.arena.data() + batch.arenaUsed, length);
  batch.arenaUsed += length;
  return room;
}

bool RecoveryRun::ReadFileGroups(const std::vector<int>& groupSet, std::vector<SharedGroup>& groups) {
  const JobLayout& layout = m_layout;
  JobDamage& damage = m_damage;
  groups.reserve(groupSet.size());
  const UnreadableSink note = [&damage](std::int32_t lba) { damage.unreadable.push_back(lba); };
  for (const int g : groupSet) {
    if (SharedGroup kept = m_flow->cache.Take(g)) {
      groups.push_back(std::move(kept));
      continue;
    }
    GroupBuffer buffer = m_flow->groupMemory.Take(0);
    GroupSectorMask unreadable;
    const bool whole = ReadSectorGroup(m_reader, g, buffer, layout.base, layout.policy, unreadable, note);
    // A stopped read leaves the group unread, not damaged.
    if (m_reader.DiscChanged() || m_stop || (!whole && !layout.policy.keepGoing)) {
      m_flow->groupMemory.Give(std::move(buffer));
      return false;
    }
    if (unreadable.any()) {
      damage.groupMasks[g] = unreadable;
      if (ReadGroupBlocks(buffer, unreadable).tableLost) {
        m_status.Update([g](RecoveryOutcome& o) { AddLostGroup(o.salvage, g); });
      }
    } else {
      damage.groupMasks.erase(g);
    }
    groups.push_back(Share(std::move(buffer), m_flow->groupMemory));
  }
  return true;
}

std::optional<std::vector<ByteSpan>> RecoveryRun::ReadFork(const ForkPlacement& placement,
                                                          std::span<std::uint8_t> out, std::size_t cacheUse,
                                                          std::vector<DecodeBlock>& blocks,
                                                          std::vector<SharedGroup>& held, const FileMemory& memory) {
  const bool keepGoing = m_layout.policy.keepGoing;
  std::vector<SharedGroup> groups;
  const auto readUpTo = [&](std::size_t count) {
    if (groups.size() >= count) return true;
    const std::vector<int> more(placement.groups.begin() + static_cast<std::ptrdiff_t>(groups.size()),
                                placement.groups.begin() + static_cast<std::ptrdiff_t>(count));
    return ReadFileGroups(more, groups);
  };
  // A large file's blocks go to the decoders a part at a time while the rest
  // of its groups is read; each part keeps its groups and the file's memory.
  const bool inParts = memory != nullptr;
  std::size_t partFrom = blocks.size();
  std::vector<std::size_t> partGroups;
  const auto handPart = [&] {
    auto part = std::make_unique<ForkPart>();
    part->memory = memory;
    part->blocks.assign(blocks.begin() + static_cast<std::ptrdiff_t>(partFrom), blocks.end());
    blocks.resize(partFrom);
    for (const std::size_t k : partGroups) part->groups.push_back(groups[k]);
    partGroups.clear();
    m_flow->pipeline.Submit(std::move(part));
  };
  std::vector<ByteSpan> lost = placement.unplaced;
  std::vector<ByteSpan> filled;  // by the blocks, fork offsets
  const auto planned = [&](const BlockCopy& copy, GroupView view, std::span<std::uint8_t> pieceOut, std::uint64_t at) {
    blocks.push_back(DecodeBlock{view, copy, pieceOut.data()});
    const std::uint64_t from = at + static_cast<std::uint64_t>(copy.at);
    filled.push_back(ByteSpan{from, from + static_cast<std::uint64_t>(copy.length)});
  };
  for (const PlacedPiece& placed : placement.pieces) {
    const std::size_t first = placement.FirstGroupIndex(placed);
    const auto count = static_cast<std::size_t>(placed.span.last - placed.span.first + 1);
    const std::span<std::uint8_t> pieceOut = out.subspan(placed.piece.at, placed.piece.length);
    const auto start = static_cast<std::uint32_t>(placed.piece.start);
    const auto end = static_cast<std::uint32_t>(placed.piece.start + placed.piece.length);
    const auto noteUnsupplied = [&](const RangePlan& plan) {
      for (const ByteSpan& gap : plan.unsupplied) {
        lost.push_back(ByteSpan{gap.begin + placed.piece.at, gap.end + placed.piece.at});
      }
    };
    if (!keepGoing) {
      // Planned group by group as the groups come in: the blocks follow one
      // another, so none overlaps another.
      RangePlanner planner(start, end, pieceOut.size());
      for (std::size_t k = first; k < first + count; ++k) {
        if (!readUpTo(k + 1)) return std::nullopt;
        const GroupView view(*groups[k]);
        planner.Add(static_cast<std::uint32_t>(k - first), view);
        if (planner.copies().empty()) continue;
        for (const BlockCopy& copy : planner.copies()) planned(copy, view, pieceOut, placed.piece.at);
        planner.copies().clear();
        if (inParts) partGroups.push_back(k);
        if (inParts && blocks.size() - partFrom >= kPartBlocks) handPart();
      }
      noteUnsupplied(planner.Finish());
      continue;
    }
    if (!readUpTo(first + count)) return std::nullopt;
    std::vector<GroupView> views;
    std::vector<GroupSectorMask> masks;
    for (std::size_t k = first; k < first + count; ++k) {
      views.emplace_back(*groups[k]);
      const auto damaged = m_damage.groupMasks.find(placement.groups[k]);
      masks.push_back(damaged == m_damage.groupMasks.end() ? GroupSectorMask{} : damaged->second);
    }
    const RangePlan plan = PlanReadableRange(views, masks, start, end, pieceOut.size());
    noteUnsupplied(plan);
    if (!Disjoint(plan)) {
      // Blocks of a damaged table that overlap are copied here, in table
      // order, so that the later one wins as it always has.
      std::fill(pieceOut.begin(), pieceOut.end(), std::uint8_t{0});
      std::vector<std::uint8_t> scratch(format::kBlockSize);
      for (const BlockCopy& copy : plan.copies) CopyBlock(views[copy.group], copy, pieceOut.data(), scratch.data());
      filled.push_back(ByteSpan{placed.piece.at, placed.piece.at + std::uint64_t{placed.piece.length}});
      continue;
    }
    for (const BlockCopy& copy : plan.copies) planned(copy, views[copy.group], pieceOut, placed.piece.at);
  }
  // Every group is read, also one no piece took a block from.
  if (!readUpTo(placement.groups.size())) return std::nullopt;
  // The arena's memory held an earlier file: what no block fills is zeros.
  for (const ByteSpan& gap : Uncovered(std::move(filled), out.size())) {
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(gap.begin), out.begin() + static_cast<std::ptrdiff_t>(gap.end),
              std::uint8_t{0});
  }
  for (std::size_t k = 0; k < groups.size(); ++k) m_flow->cache.Return(placement.groups[k], groups[k], cacheUse);
  held.insert(held.end(), groups.begin(), groups.end());
  return MergeSpans(std::move(lost));
}

bool RecoveryRun::RecoverFile(std::size_t index) {
  const JobLayout& layout = m_layout;
  if (m_reader.DiscChanged()) return false;
  RecoveredFile file;
  file.index = index;
  file.entry = m_files[index];
  const FileEntry& entry = file.entry;
  std::vector<DecodeBlock> blocks;
  std::vector<SharedGroup> held;
  const auto handled = [&] { m_status.Update([&](RecoveryOutcome& o) { o.bytesDone += entry.dataLogicalLength; }); };
  const auto settleUnwritten = [&](RecoveredFile::Outcome outcome, std::string why) {
    file.outcome = outcome;
    file.reason = std::move(why);
    if (outcome == RecoveredFile::Outcome::kLost) file.lostRanges.assign(1, ByteSpan{0, entry.dataLogicalLength});
    blocks.clear();
    held.clear();
    Hand(std::move(file), blocks, held);
    handled();
    return true;
  };
  const std::optional<ForkPlacement> placement = PlaceFork(entry, layout);
  if (!placement) {
    // None of its bytes can be read: a salvage counts it as lost.
    const std::string why = "the catalogue places its data outside the volume or the packed data";
    return settleUnwritten(layout.policy.keepGoing ? RecoveredFile::Outcome::kLost : RecoveredFile::Outcome::kNotWritten,
                           why);
  }
  // The files read whole are handed over before the disc is asked for more:
  // a read that takes long never holds them back.
  const std::optional<ForkPlacement> rsrcPlacement =
      m_options.resourceForks ? PlaceFork(entry, layout, Fork::kResource) : std::nullopt;
  const auto cached = [&](const std::vector<int>& set) {
    return std::all_of(set.begin(), set.end(), [&](int g) { return m_flow->cache.Holds(g); });
  };
  if (m_flow->batch && !m_flow->batch->files.empty() &&
      !(cached(placement->groups) && (!rsrcPlacement || cached(rsrcPlacement->groups)))) {
    HandBatchOver();
  }
  try {
    file.data = RoomFor(file, entry.dataLogicalLength);
  } catch (const std::bad_alloc&) {
    return settleUnwritten(RecoveredFile::Outcome::kNotWritten, "not enough memory to hold it");
  }
  // The file is handed over once all of its groups are read; a large file's
  // blocks are decoded while they are.
  std::optional<std::vector<ByteSpan>> lost =
      ReadFork(*placement, file.data, CacheUse(m_options, index, Fork::kData), blocks, held, file.own);
  if (!lost) return false;
  file.lostRanges = std::move(*lost);
  file.complete = file.lostRanges.empty();
  if (m_options.resourceForks && !GatherResourceFork(file, rsrcPlacement, blocks, held)) return false;
  handled();
  const std::size_t length = file.data.size();
  const bool nothingRead = length > 0 && file.lostRanges.size() == 1 && file.lostRanges[0].begin == 0 &&
                           file.lostRanges[0].end == length &&
                           (file.rsrcData.empty() || (file.rsrcLostRanges.size() == 1 &&
                                                      file.rsrcLostRanges[0].end == file.rsrcData.size()));
  // Nothing read after the disc may have changed is written, whatever it is,
  // nor a file whose reading was stopped.
  if (m_reader.DiscChanged() || m_stop) return false;
  if (layout.policy.keepGoing && nothingRead) {
    // Not a byte of it could be read: nothing is written for it.
    file.outcome = RecoveredFile::Outcome::kLost;
    blocks.clear();
    held.clear();
  }
  Hand(std::move(file), blocks, held);
  return true;
}

bool RecoveryRun::GatherResourceFork(RecoveredFile& file, const std::optional<ForkPlacement>& placement,
                                     std::vector<DecodeBlock>& blocks, std::vector<SharedGroup>& held) {
  const FileEntry& entry = file.entry;
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
  std::optional<std::vector<ByteSpan>> lost =
      ReadFork(*placement, file.rsrcData, CacheUse(m_options, file.index, Fork::kResource), blocks, held, nullptr);
  if (!lost) return false;
  file.rsrcLostRanges = std::move(*lost);
  if (!file.rsrcLostRanges.empty()) file.complete = false;
  return true;
}

void RecoveryRun::SettleBatch(std::span<RecoveredFile> files) {
  for (std::size_t begin = 0; begin < files.size();) {
    std::size_t end = begin + 1;
    while (end < files.size() && files[end].entry.path == files[begin].entry.path) ++end;
    SettleFolder(files.subspan(begin, end - begin));
    begin = end;
  }
}

void RecoveryRun::SettleFolder(std::span<RecoveredFile> files) {
  // Named and placed in job order, written side by side, counted in job order.
  const auto toWrite = [&files](std::size_t i) { return files[i].outcome == RecoveredFile::Outcome::kWrite; };
  std::vector<OutputTree::Placed> placed(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!toWrite(i)) continue;
    try {
      placed[i] = m_flow->tree.Place(files[i].entry);
    } catch (const std::exception& e) {  // out of memory for a path, or the like
      placed[i] = OutputTree::Placed{};
      placed[i].result.error = e.what();
    }
  }
  std::vector<OutputResult> results(files.size());
  const std::function<void(std::size_t)> write = [&](std::size_t i) {
    if (!toWrite(i)) return;
    try {
      results[i] = m_flow->tree.WritePlaced(placed[i], files[i].entry, files[i].data, files[i].rsrcData);
    } catch (const std::exception& e) {
      results[i] = OutputResult{};
      results[i].error = e.what();
    }
  };
  if (m_flow->writerHelper && files.size() > 1) {
    m_flow->writerHelper->ForEach(files.size(), write);
  } else {
    for (std::size_t i = 0; i < files.size(); ++i) write(i);
  }
  for (std::size_t i = 0; i < files.size(); ++i) Settle(files[i], results[i]);
}

void RecoveryRun::Settle(RecoveredFile& file, OutputResult& result) {
  switch (file.outcome) {
    case RecoveredFile::Outcome::kWrite:
      RecordWritten(file, result);
      return;
    case RecoveredFile::Outcome::kLost:
      m_status.Update([&](RecoveryOutcome& o) {
        o.files[file.index] = FileResult{FileStatus::kLost, std::move(file.lostRanges), file.reason, {}};
      });
      return;
    case RecoveredFile::Outcome::kNotWritten:
      m_status.Update([&](RecoveryOutcome& o) {
        o.files[file.index] = FileResult{FileStatus::kNotWritten, {}, file.reason, {}};
        o.unwritten.push_back(file.index);
        o.unwrittenReasons.push_back(file.reason);
      });
      return;
  }
}

void RecoveryRun::RecordWritten(RecoveredFile& file, OutputResult& result) {
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
      o.bytesWritten += file.data.size();
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
