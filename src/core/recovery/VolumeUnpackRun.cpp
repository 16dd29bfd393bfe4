// Reading a disc for its volume image: the volume area, the "Pack" table (or
// the groups found by search), then every group once, in disc order, its
// blocks decoded into the volume's byte space.
#include <algorithm>

#include "drive/SectorReader.h"
#include "volume/CatalogScan.h"
#include "volume/SectorGroup.h"
#include "recovery/DataLocation.h"
#include "recovery/ExtractRange.h"
#include "recovery/GroupSearch.h"
#include "recovery/JobLayout.h"
#include "recovery/SalvagedVolume.h"
#include "recovery/TemporaryOutputFile.h"
#include "recovery/VolumeAssembler.h"
#include "recovery/VolumeUnpack.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::uint64_t kChunkBytes = std::uint64_t{2} << 20;  // decoded at a time
constexpr std::uint64_t kMdbBegin = format::kMdbVolumeOffset;

class FileSink : public ImageSink {
 public:
  explicit FileSink(TemporaryOutputFile& file) : m_file(file) {}
  bool Append(std::span<const std::uint8_t> bytes, std::string& error) override { return m_file.Write(bytes, error); }

 private:
  TemporaryOutputFile& m_file;
};

// One run: what it has read and what it has found, and the steps.
class UnpackRun {
 public:
  UnpackRun(SectorReader& reader, const UnpackSettings& settings, UnpackOutcome& outcome)
      : m_reader(reader), m_policy(settings.policy), m_settings(settings), m_outcome(outcome) {}

  bool Run(ImageSink& sink, const UnpackProgress& progress);

 private:
  bool Fail(UnpackFailure why, std::string text = {});
  // The volume area, and the groups' place: the "Pack" table, or with
  // keep-going a search where it cannot be read.
  bool Load();
  bool UnpackGroups(VolumeAssembler& assembler, const UnpackProgress& progress);
  // Reads group k and hands its bytes from the assembler's position on.
  bool UnpackGroup(std::size_t k, VolumeAssembler& assembler);
  // After the image: what the lost ranges hit.
  void FindWhatWasLost(const VolumeAssembler& assembler);

  SectorReader& m_reader;
  const ReadPolicy m_policy;
  const UnpackSettings& m_settings;
  UnpackOutcome& m_outcome;
  SalvagedVolume m_loaded;  // the area, the boundaries, the search
  int m_base = 0;
  std::vector<std::int32_t> m_unreadable;
  std::int32_t m_lastUnreadable = -1;
  GroupBuffer m_buffer;
  std::vector<std::uint8_t> m_chunk;
};

bool UnpackRun::Fail(UnpackFailure why, std::string text) {
  if (m_reader.DiscChanged()) {
    why = UnpackFailure::kDiscChanged;
  } else if (m_reader.Stopped()) {
    why = UnpackFailure::kStopped;  // what failed was a read that was never sent
  }
  m_outcome.failed = why;
  m_outcome.failure = std::move(text);
  m_outcome.unreadableSectors = ToSectorSpans(m_unreadable);
  return false;
}

bool UnpackRun::Load() {
  VolumeAreaRead& area = m_loaded.area;
  m_loaded.areaLoaded = ReadVolumeArea(m_reader, m_loaded.image, area, m_policy);
  m_outcome.area = area;
  m_unreadable = area.unreadable;
  if (area.failedLba >= 0) m_unreadable.push_back(area.failedLba);
  m_unreadable.insert(m_unreadable.end(), area.searchUnreadable.begin(), area.searchUnreadable.end());
  if (m_reader.DiscChanged()) return Fail(UnpackFailure::kDiscChanged);
  std::vector<std::int32_t>& boundaries = m_loaded.boundaries;
  if (!m_policy.keepGoing) {
    if (!m_loaded.areaLoaded) {
      return Fail(area.trailerLba >= 0 ? UnpackFailure::kNoVolume : UnpackFailure::kNotOurs,
                  DescribeVolumeAreaFailure(area));
    }
    MasterDirectoryBlock mdb;
    if (!ParseMasterDirectoryBlock(m_loaded.image, mdb)) {
      return Fail(UnpackFailure::kUnknownFormat, "no readable HFS master directory block in the volume area");
    }
    if (!ReadPackTable(m_loaded.image, boundaries)) {
      return Fail(UnpackFailure::kUnknownFormat, "the volume area holds no readable \"Pack\" table");
    }
    m_loaded.packTableRead = true;
  } else {
    if (area.sectorCount <= 0) return Fail(UnpackFailure::kNotOurs, DescribeVolumeAreaFailure(area));
    if (!m_loaded.areaLoaded) m_loaded.image.clear();
    m_loaded.packTableRead = m_loaded.areaLoaded && ReadPackTable(m_loaded.image, boundaries) &&
                             !Overlaps(area.unreadableBytes, format::kPackTableOffset,
                                       format::kPackEntriesOffset + boundaries.size() * format::kPackEntrySize);
    if (!m_loaded.packTableRead) {
      const UnreadableSink note = [this](std::int32_t lba) { m_unreadable.push_back(lba); };
      m_loaded.search = SearchGroups(m_reader, area.sectorCount, m_policy, note);
      if (m_reader.DiscChanged()) return Fail(UnpackFailure::kDiscChanged);
      if (m_loaded.search.base < 0) {
        return Fail(m_loaded.areaLoaded ? UnpackFailure::kUnknownFormat : UnpackFailure::kNotOurs,
                    "no readable \"Pack\" table, and no group of packed data was found on the disc");
      }
      boundaries = m_loaded.search.boundaries;
    }
    if (!m_loaded.areaLoaded && (boundaries.empty() || std::int64_t{boundaries.front()} > std::int64_t{kMdbBegin})) {
      m_loaded.metadataGone = true;
      return Fail(UnpackFailure::kMetadataGone,
                  "the packed data begins at volume byte " + std::to_string(boundaries.empty() ? 0 : boundaries.front()) +
                      ", after the master directory block: the volume's metadata was only in the disc's last "
                      "sectors, which cannot be read");
    }
    m_outcome.salvage = FactsOf(m_loaded);
    m_outcome.salvage.source = m_loaded.areaLoaded ? MetadataSource::kVolumeArea : MetadataSource::kPackedCopy;
  }
  m_base = SalvageGroupBase(m_loaded);
  return true;
}

bool UnpackRun::UnpackGroup(std::size_t k, VolumeAssembler& assembler) {
  const std::vector<std::int32_t>& b = m_loaded.boundaries;
  const bool searched = m_loaded.GroupsFoundBySearch();
  const std::uint64_t from = std::max<std::uint64_t>(static_cast<std::uint64_t>(std::max(b[k], 0)), assembler.Position());
  const bool openEnd = b[k + 1] == kOpenGroupEnd && searched;
  std::uint64_t to = static_cast<std::uint64_t>(std::max(b[k + 1], 0));
  if (!openEnd && to <= from) return true;  // the table gives this group nothing the image still needs

  GroupSectorMask mask;
  GroupBlocks table;
  const auto& lostBySearch = m_loaded.search.lost;
  if (searched && std::find(lostBySearch.begin(), lostBySearch.end(), static_cast<int>(k)) != lostBySearch.end()) {
    table.tableLost = true;  // its table sector was read, and failed, by the search
  } else {
    const std::size_t noted = m_unreadable.size();
    const UnreadableSink note = [this](std::int32_t lba) {
      m_unreadable.push_back(lba);
      m_lastUnreadable = lba;
    };
    const bool whole = ReadSectorGroup(m_reader, static_cast<int>(k), m_buffer, m_base, m_policy, mask, note);
    if (m_reader.DiscChanged()) return Fail(UnpackFailure::kDiscChanged);
    if (m_reader.Stopped()) return Fail(UnpackFailure::kStopped);
    if (!whole && !m_policy.keepGoing) {
      m_outcome.failedGroup = static_cast<int>(k);
      m_outcome.failedLba = m_unreadable.size() > noted ? m_lastUnreadable : -1;
      return Fail(UnpackFailure::kUnreadableSector, "volume bytes " + std::to_string(b[k]) + " to " +
                                                        std::to_string(b[k + 1]));
    }
    table = ReadGroupBlocks(m_buffer, mask);
  }
  if (table.tableLost) AddLostGroup(m_outcome.salvage, static_cast<int>(k));

  if (table.tableLost) {
    // Without its table nothing of the group is known: every byte it held
    // is lost. A group found by search holds what lies before the next one.
    const std::uint64_t begin = searched ? assembler.Position() : from;
    if (openEnd) {
      // The last group: up to the volume's end, when the master directory
      // block says where that is.
      const std::optional<std::uint64_t> size =
          assembler.Mdb() ? MdbVolumeBytes(*assembler.Mdb()) : std::optional<std::uint64_t>{};
      to = size.value_or(begin);
    }
    return to <= begin || assembler.PutLost(begin, to - begin) || Fail(assembler.Failure(), assembler.FailureText());
  }
  // A group found by search holds what its blocks hold.
  std::int64_t blocksEnd = 0;
  std::vector<ByteSpan> unusable;
  for (const GroupBlocks::Block& block : table.blocks) {
    const std::int64_t end = block.position + static_cast<std::int64_t>(format::kBlockSize);
    blocksEnd = std::max(blocksEnd, end);
    if (!block.usable && block.position >= 0) {
      unusable.push_back({static_cast<std::uint64_t>(block.position), static_cast<std::uint64_t>(end)});
    }
  }
  if (searched) to = std::min(to, static_cast<std::uint64_t>(std::max<std::int64_t>(blocksEnd, 0)));
  to = std::min<std::uint64_t>(to, static_cast<std::uint64_t>(kOpenGroupEnd));
  unusable = MergeSpans(std::move(unusable));
  for (std::uint64_t at = from; at < to; at += kChunkBytes) {
    const std::uint64_t end = std::min(to, at + kChunkBytes);
    m_chunk.resize(static_cast<std::size_t>(end - at));
    const std::vector<ByteSpan> uncovered =
        ExtractReadableRange(std::span<const GroupBuffer>(&m_buffer, 1), std::span<const GroupSectorMask>(&mask, 1),
                             static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end), m_chunk);
    std::vector<ByteSpan> lost;
    for (const ByteSpan& span : IntersectSpans(unusable, {{at, end}})) lost.push_back({span.begin - at, span.end - at});
    lost = IntersectSpans(uncovered, lost);
    const std::vector<ByteSpan> absent = IntersectSpans(uncovered, Uncovered(lost, end - at));
    if (!assembler.Put(at, m_chunk, lost, absent)) return Fail(assembler.Failure(), assembler.FailureText());
  }
  return true;
}

bool UnpackRun::UnpackGroups(VolumeAssembler& assembler, const UnpackProgress& progress) {
  const std::vector<std::int32_t>& b = m_loaded.boundaries;
  const std::uint64_t total =
      m_loaded.GroupsFoundBySearch() || b.empty() ? 0 : static_cast<std::uint64_t>(std::max(b.back(), 0));
  for (std::size_t k = 0; k + 1 < b.size(); ++k) {
    if (!UnpackGroup(k, assembler)) return false;
    if (progress && !progress(assembler.Position(), total)) return Fail(UnpackFailure::kStopped);
  }
  return true;
}

void UnpackRun::FindWhatWasLost(const VolumeAssembler& assembler) {
  m_outcome.lostVolumeRanges = assembler.Lost();
  if (m_outcome.lostVolumeRanges.empty() || !assembler.Mdb()) return;
  const MasterDirectoryBlock& mdb = *assembler.Mdb();
  FileTable files;
  std::size_t lostNodes = 0;
  ListCatalogFiles(assembler.MetadataImage(), files, assembler.MetadataImageLost(), lostNodes);
  m_outcome.lostCatalogNodes = lostNodes;
  VolumeHits hits =
      FindHits(m_outcome.lostVolumeRanges, files, mdb.drAlBlkSiz(), VolumeStructures(mdb, assembler.ImageBytes()));
  for (const std::size_t row : hits.files) m_outcome.filesHit.push_back(files[row]);
  m_outcome.fileResults = std::move(hits.results);
  m_outcome.structuresHit = std::move(hits.structures);
}

bool UnpackRun::Run(ImageSink& sink, const UnpackProgress& progress) {
  if (!Load()) return false;
  std::span<const std::uint8_t> area;
  std::vector<ByteSpan> areaUnreadable;
  if (m_loaded.areaLoaded && m_loaded.image.size() > format::kVolumeOffset) {
    area = std::span<const std::uint8_t>(m_loaded.image).subspan(format::kVolumeOffset);
    for (const ByteSpan& span : m_loaded.area.unreadableBytes) {
      if (span.end <= format::kVolumeOffset) continue;
      areaUnreadable.push_back({std::max<std::uint64_t>(span.begin, format::kVolumeOffset) - format::kVolumeOffset,
                                span.end - format::kVolumeOffset});
    }
  }
  VolumeAssembler assembler(sink, area, std::move(areaUnreadable), m_settings.listedVolume);
  if (!UnpackGroups(assembler, progress)) return false;
  if (!assembler.Finish(assembler.Position())) return Fail(assembler.Failure(), assembler.FailureText());
  if (m_reader.DiscChanged()) return Fail(UnpackFailure::kDiscChanged);
  const MasterDirectoryBlock& mdb = *assembler.Mdb();
  m_outcome.volume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
  m_outcome.imageBytes = assembler.ImageBytes();
  m_outcome.packedEnd = assembler.Position();
  m_outcome.mdbSizeUsed = assembler.MdbSizeUsed();
  m_outcome.alternateMdbCopied = assembler.AlternateMdbCopied();
  m_outcome.bytesDifferingFromArea = assembler.Meeting().differing;
  m_outcome.bytesTakenFromArea = assembler.BytesTakenFromArea();
  m_outcome.unreadableSectors = ToSectorSpans(m_unreadable);
  FindWhatWasLost(assembler);
  return true;
}

}  // namespace

bool UnpackVolume(SectorReader& reader, const UnpackSettings& settings, ImageSink& sink, UnpackOutcome& outcome,
                  const UnpackProgress& progress) {
  outcome = UnpackOutcome{};
  if (!reader.Open()) {
    outcome.failed = UnpackFailure::kCannotOpen;
    return false;
  }
  // The device is closed however the run ends (an exception included).
  struct Closer {
    SectorReader& reader;
    ~Closer() { reader.Close(); }
  } closer{reader};
  UnpackRun run(reader, settings, outcome);
  return run.Run(sink, progress);
}

bool WriteVolumeImage(SectorReader& reader, const std::string& path, const UnpackSettings& settings,
                      UnpackOutcome& outcome, const UnpackProgress& progress) {
  outcome = UnpackOutcome{};
  TemporaryOutputFile file;
  std::string error;
  switch (file.Begin(path, IdentitiesOf(reader.GetTransport().SourceFiles()), error)) {
    case TemporaryOutputFile::BeginResult::kReady:
      break;
    case TemporaryOutputFile::BeginResult::kInTheWay:
      outcome.failed = UnpackFailure::kOutputInTheWay;
      outcome.failure = error;
      return false;
    case TemporaryOutputFile::BeginResult::kCannotCreate:
      outcome.failed = UnpackFailure::kCannotWrite;
      outcome.failure = error;
      return false;
  }
  FileSink sink(file);
  if (!UnpackVolume(reader, settings, sink, outcome, progress)) return false;  // the temporary file goes
  if (!file.Commit(error)) {
    outcome.failed = UnpackFailure::kCannotWrite;
    outcome.failure = error;
    return false;
  }
  return true;
}

}  // namespace kestrow
