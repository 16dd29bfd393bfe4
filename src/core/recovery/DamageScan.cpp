#include "recovery/DamageScan.h"

#include <algorithm>
#include <map>
#include <set>

#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/SalvagedVolume.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::size_t kDataSectors = format::kGroupDataSectors;

// The group sectors (counted from 1) that hold a block table of `count`
// entries.
std::size_t TableSectors(std::uint32_t count) {
  const std::uint64_t bytes = format::kGroupEntriesOffset + std::uint64_t{count} * format::kGroupEntrySize;
  return static_cast<std::size_t>(
      std::min<std::uint64_t>((bytes + format::kUserDataSize - 1) / format::kUserDataSize, kDataSectors));
}

FileResult FileDamage(const FileEntry& entry, const JobLayout& layout, const std::map<int, GroupBlocks>& tables) {
  const std::optional<ForkPlacement> placement = PlaceFork(entry, layout);
  if (!placement) {
    return FileResult{FileStatus::kLost, {{0, entry.dataLogicalLength}},
                      "the catalogue places its data outside the volume or the packed data", {}};
  }
  std::vector<ByteSpan> lost = placement->unplaced;
  for (const PlacedPiece& placed : placement->pieces) {
    std::vector<GroupBlocks> groups;
    for (int g = placed.span.first; g <= placed.span.last; ++g) groups.push_back(tables.at(g));
    const auto start = static_cast<std::uint32_t>(placed.piece.start);
    const auto end = static_cast<std::uint32_t>(placed.piece.start + placed.piece.length);
    for (const ByteSpan& gap : WalkUsableBlocks(groups, start, end, placed.piece.length, {})) {
      lost.push_back(ByteSpan{gap.begin + placed.piece.at, gap.end + placed.piece.at});
    }
  }
  lost = MergeSpans(std::move(lost));
  if (lost.empty()) return FileResult{FileStatus::kWhole, {}, {}, {}};
  const bool all = lost.size() == 1 && lost[0].begin == 0 && lost[0].end == entry.dataLogicalLength;
  return FileResult{all ? FileStatus::kLost : FileStatus::kDamaged, std::move(lost), {}, {}};
}

}  // namespace

std::size_t DamageScan::FilesHit() const {
  return static_cast<std::size_t>(std::count_if(results.begin(), results.end(), [](const FileResult& r) {
    return r.status != FileStatus::kWhole;
  }));
}

bool CKestrowCore::ScanDamage(DamageScan& scan, const ReadPolicy& readPolicy, const ScanProgressCallback& progress) {
  scan = DamageScan{};
  const ReadPolicy policy{readPolicy.retries, true};
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    scan.failed = ScanFailure::kCannotOpen;
    return false;
  }
  std::vector<std::int32_t> unreadable;
  ScanProgress done;
  const auto fail = [&](ScanFailure why, std::string text) {
    if (DiscChanged()) why = ScanFailure::kDiscChanged;
    CloseDevice();
    scan.failed = why;
    scan.failure = std::move(text);
    scan.unreadableSectors = ToSectorSpans(unreadable);
    return false;
  };
  const auto report = [&] {
    done.unreadable = unreadable.size();
    return !progress || progress(done);
  };

  VolumeImage image;
  MasterDirectoryBlock mdb;
  std::optional<JobLayout> layoutFound;
  if (readPolicy.keepGoing) {
    // The disc's end may be gone: the packed copy and a search for the groups
    // stand in for what cannot be read there.
    SalvagedVolume salvaged;
    const bool loaded = ReadSalvagedVolume(salvaged, policy);
    scan.area = salvaged.area;
    scan.salvage = FactsOf(salvaged);
    unreadable = salvaged.unreadable;
    if (!loaded) {
      return fail(salvaged.NothingFound() ? ScanFailure::kNoVolume : ScanFailure::kNoCatalog, salvaged.failure);
    }
    done.sectorsDone = salvaged.search.sectorsRead +
                       (salvaged.image.size() + format::kUserDataSize - 1) / format::kUserDataSize;
    if (!report()) return fail(ScanFailure::kStopped, {});
    ReadMasterDirectoryBlock(salvaged.image, mdb);
    ScanCatalog(salvaged.image, scan.files, salvaged.unreadableBytes, scan.lostCatalogNodes);
    layoutFound = MakeJobLayout(salvaged, mdb);
  } else {
    if (!ReadVolumeImage(image, scan.area, policy)) return fail(ScanFailure::kNoVolume, DescribeVolumeAreaFailure(scan.area));
    unreadable = scan.area.unreadable;
    done.sectorsDone = (image.size() + format::kUserDataSize - 1) / format::kUserDataSize;
    if (!report()) return fail(ScanFailure::kStopped, {});
    if (!ReadMasterDirectoryBlock(image, mdb) ||
        Overlaps(scan.area.unreadableBytes, format::kMdbOffset, format::kMdbOffset + format::kMdbSize) ||
        !ScanCatalog(image, scan.files, scan.area.unreadableBytes, scan.lostCatalogNodes)) {
      return fail(ScanFailure::kNoCatalog, "no readable HFS master directory block in the volume area");
    }
    std::vector<std::int32_t> boundaries;
    if (!ReadPackTable(image, boundaries) ||
        Overlaps(scan.area.unreadableBytes, format::kPackTableOffset,
                 format::kPackEntriesOffset + boundaries.size() * format::kPackEntrySize)) {
      return fail(ScanFailure::kNoPackTable, "the volume area holds no readable \"Pack\" table");
    }
    layoutFound = MakeJobLayout(scan.area, image.size(), std::move(boundaries), mdb);
    image = VolumeImage();
  }
  scan.volume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
  const JobLayout& layout = *layoutFound;

  std::set<int> used;
  for (const std::vector<int>& groups : JobGroupSets(scan.files, layout)) used.insert(groups.begin(), groups.end());
  done.sectorsTotal = done.sectorsDone + used.size() * kDataSectors;
  if (!report()) return fail(ScanFailure::kStopped, {});

  // A source that knows which sectors cannot be read (an image read through
  // a mapfile) answers for every sector, or for none.
  scan.fromMapfile = m_reader.KnownUnreadable(0).has_value();
  const UnreadableSink note = [&](std::int32_t lba) { unreadable.push_back(lba); };
  std::map<int, GroupBlocks> tables;
  GroupBuffer buffer;
  for (const int g : used) {
    GroupSectorMask mask;
    const std::int64_t first = std::int64_t{layout.base} + std::int64_t{g} * format::kGroupSectors + 1;
    if (!scan.fromMapfile || first < 0 || first + std::int64_t{kDataSectors} > INT32_MAX) {
      ReadSectorGroup(g, buffer, layout.base, policy, mask, note);
    } else {
      // The map says which sectors cannot be read; only the block table is.
      buffer.assign(format::kGroupBufferSize, 0);
      for (std::size_t i = 0; i < kDataSectors; ++i) {
        const auto lba = static_cast<std::int32_t>(first + static_cast<std::int64_t>(i));
        if (m_reader.KnownUnreadable(lba).value_or(false)) {
          mask.set(i);
          unreadable.push_back(lba);
        }
      }
      const auto readTableSector = [&](std::size_t i) {
        const auto lba = static_cast<std::int32_t>(first + static_cast<std::int64_t>(i));
        const SectorConsumer copy = [&](std::int32_t, std::span<const std::uint8_t> raw) {
          const std::span<const std::uint8_t> user = UserDataOf(raw);
          if (user.size() != format::kUserDataSize) return false;
          std::copy(user.begin(), user.end(), buffer.begin() + static_cast<std::ptrdiff_t>(i * format::kUserDataSize));
          return true;
        };
        if (!mask[i] && !ReadSectorRun(lba, 1, copy, policy, note)) mask.set(i);
      };
      readTableSector(0);
      if (!mask[0]) {
        const std::uint32_t count = *ByteReader(buffer).be16(format::kGroupBlockCountOffset);
        for (std::size_t i = 1; i < TableSectors(count); ++i) readTableSector(i);
      }
    }
    if (DiscChanged()) return fail(ScanFailure::kDiscChanged, {});
    const GroupBlocks& table = tables.emplace(g, ReadGroupBlocks(buffer, mask)).first->second;
    if (table.tableLost) AddLostGroup(scan.salvage, g);
    done.sectorsDone += kDataSectors;
    if (!report()) return fail(ScanFailure::kStopped, {});
  }
  if (DiscChanged()) return fail(ScanFailure::kDiscChanged, {});
  CloseDevice();

  scan.results.reserve(scan.files.size());
  for (const FileEntry& entry : scan.files) scan.results.push_back(FileDamage(entry, layout, tables));
  scan.unreadableSectors = ToSectorSpans(unreadable);
  scan.sectorsScanned = done.sectorsDone;
  return true;
}

}  // namespace kestrow
