#include "recovery/DamageScan.h"

#include <algorithm>
#include <map>
#include <set>

#include "drive/SectorReader.h"
#include "recovery/DataLocation.h"
#include "recovery/JobVolume.h"
#include "volume/CatalogScan.h"
#include "volume/SectorGroup.h"
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

bool ScanDamage(SectorReader& reader, DamageScan& scan, const ReadPolicy& readPolicy,
                const ScanProgressCallback& progress) {
  scan = DamageScan{};
  const ReadPolicy policy{readPolicy.retries, true};
  std::vector<std::int32_t> unreadable;
  ScanProgress done;
  const auto fail = [&](ScanFailure why, std::string text) {
    if (reader.DiscChanged()) why = ScanFailure::kDiscChanged;
    scan.failed = why;
    scan.failure = std::move(text);
    scan.unreadableSectors = ToSectorSpans(unreadable);
    return false;
  };
  const auto report = [&] {
    done.unreadable = unreadable.size();
    return !progress || progress(done);
  };

  // With keep-going the disc's end may be gone: the packed copy and a search
  // for the groups stand in for what cannot be read there.
  JobVolume loaded;
  const bool volumeLoaded = LoadJobVolume(reader, policy, readPolicy.keepGoing, loaded);
  scan.area = loaded.area;
  scan.salvage = loaded.salvage;
  unreadable = loaded.unreadable;
  if (!volumeLoaded) {
    switch (loaded.failed) {
      case JobVolumeFailure::kNoPackTable:
        return fail(ScanFailure::kNoPackTable, loaded.failure);
      case JobVolumeFailure::kNoMdb:
        return fail(ScanFailure::kNoCatalog, loaded.salvaged ? loaded.failure
                                                             : "no readable HFS master directory block in the volume area");
      default:
        return fail(ScanFailure::kNoVolume, loaded.failure);
    }
  }
  done.sectorsDone = loaded.sectorsRead;
  if (!report()) return fail(ScanFailure::kStopped, {});
  if (!ListCatalogFiles(loaded.image, scan.files, loaded.unreadableBytes, scan.lostCatalogNodes) &&
      !loaded.salvaged) {
    return fail(ScanFailure::kNoCatalog, "no readable HFS master directory block in the volume area");
  }
  loaded.image = VolumeImage();
  const MasterDirectoryBlock& mdb = loaded.mdb;
  scan.volume = ListedVolume{mdb.VolumeName(), mdb.drCrDate()};
  const JobLayout& layout = loaded.layout;

  std::set<int> used;
  for (const std::vector<int>& groups : JobGroupSets(scan.files, layout)) used.insert(groups.begin(), groups.end());
  done.sectorsTotal = done.sectorsDone + used.size() * kDataSectors;
  if (!report()) return fail(ScanFailure::kStopped, {});

  // A source that knows which sectors cannot be read (an image read through
  // a mapfile) answers for every sector, or for none.
  scan.fromMapfile = reader.KnownUnreadable(0).has_value();
  const UnreadableSink note = [&](std::int32_t lba) { unreadable.push_back(lba); };
  std::map<int, GroupBlocks> tables;
  GroupBuffer buffer;
  for (const int g : used) {
    GroupSectorMask mask;
    const std::int64_t first = std::int64_t{layout.base} + std::int64_t{g} * format::kGroupSectors + 1;
    if (!scan.fromMapfile || first < 0 || first + std::int64_t{kDataSectors} > INT32_MAX) {
      ReadSectorGroup(reader, g, buffer, layout.base, policy, mask, note);
    } else {
      // The map says which sectors cannot be read; only the block table is.
      buffer.assign(format::kGroupBufferSize, 0);
      for (std::size_t i = 0; i < kDataSectors; ++i) {
        const auto lba = static_cast<std::int32_t>(first + static_cast<std::int64_t>(i));
        if (reader.KnownUnreadable(lba).value_or(false)) {
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
        if (!mask[i] && !reader.ReadSectorRun(lba, 1, copy, policy, note)) mask.set(i);
      };
      readTableSector(0);
      if (!mask[0]) {
        const std::uint32_t count = *ByteReader(buffer).be16(format::kGroupBlockCountOffset);
        for (std::size_t i = 1; i < TableSectors(count); ++i) readTableSector(i);
      }
    }
    if (reader.DiscChanged()) return fail(ScanFailure::kDiscChanged, {});
    const GroupBlocks& table = tables.emplace(g, ReadGroupBlocks(buffer, mask)).first->second;
    if (table.tableLost) AddLostGroup(scan.salvage, g);
    done.sectorsDone += kDataSectors;
    if (!report()) return fail(ScanFailure::kStopped, {});
  }
  if (reader.DiscChanged()) return fail(ScanFailure::kDiscChanged, {});

  scan.results.reserve(scan.files.size());
  for (const FileEntry& entry : scan.files) scan.results.push_back(FileDamage(entry, layout, tables));
  scan.unreadableSectors = ToSectorSpans(unreadable);
  scan.sectorsScanned = done.sectorsDone;
  return true;
}

}  // namespace kestrow
