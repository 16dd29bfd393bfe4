// Loading a volume for a salvage, from the volume area and the packed copy.
#include "recovery/SalvagedVolume.h"

#include <algorithm>
#include <cstring>

#include "recovery/DataLocation.h"
#include "recovery/ExtractRange.h"
#include "recovery/GroupSearch.h"
#include "recovery/JobLayout.h"
#include "text/ByteReader.h"
#include "text/Messages.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::int64_t kVolumeOffset = static_cast<std::int64_t>(format::kVolumeOffset);
constexpr std::int64_t kMdbStart = static_cast<std::int64_t>(format::kMdbVolumeOffset);
constexpr std::int64_t kMdbEnd = kMdbStart + static_cast<std::int64_t>(format::kMdbSize);
constexpr std::size_t kExtentsFileExtentsOffset = 134;  // drXTExtRec: 3 x (16-bit start, 16-bit count)

bool PackTableReadable(const VolumeImage& image, const std::vector<ByteSpan>& unreadable,
                       std::vector<std::int32_t>& boundaries) {
  return ReadPackTable(image, boundaries) &&
         !Overlaps(unreadable, format::kPackTableOffset,
                   format::kPackEntriesOffset + boundaries.size() * format::kPackEntrySize);
}

bool MdbReadable(const VolumeImage& image, const std::vector<ByteSpan>& unreadable) {
  const ByteReader reader(image);
  return reader.has(format::kMdbOffset, format::kMdbSize) && reader.matches(format::kMdbOffset, "BD") &&
         image.size() >= format::kCatalogScanOffset &&
         !Overlaps(unreadable, format::kMdbOffset, format::kMdbOffset + format::kMdbSize);
}

// The volume byte after the extents and catalogue files, as the master
// directory block places them; 0 when it names no catalogue.
std::int64_t MetadataEnd(std::span<const std::uint8_t> mdb) {
  const ByteReader reader(mdb);
  const std::int64_t blockSize = *reader.be32(format::kMdbAllocBlockSizeOffset);
  std::int64_t end = 0;
  std::int64_t catalogBlocks = 0;
  for (const std::size_t record : {kExtentsFileExtentsOffset, format::kMdbCatalogExtentsOffset}) {
    for (std::size_t i = 0; i < format::kMdbExtentCount; ++i) {
      const std::int64_t start = *reader.be16(record + 4 * i);
      const std::int64_t count = *reader.be16(record + 4 * i + 2);
      if (count == 0) continue;
      if (record == format::kMdbCatalogExtentsOffset) catalogBlocks += count;
      end = std::max(end, static_cast<std::int64_t>(format::kAllocationBlock0) + (start + count) * blockSize);
    }
  }
  return blockSize == 0 || catalogBlocks == 0 ? 0 : end;
}

}  // namespace

const char* MetadataSourceName(MetadataSource source) {
  switch (source) {
    case MetadataSource::kVolumeArea: return "volume area";
    case MetadataSource::kPackedCopy: return "packed copy";
    case MetadataSource::kBoth: return "both";
  }
  return "volume area";
}

const char* SalvageFailureMessage(const SalvagedVolume& volume) {
  if (volume.metadataGone) return msg::kMetadataGone;
  return volume.NothingFound() ? msg::kNotBurnedByKestrow : msg::kUnknownFormat;
}

SalvageFacts FactsOf(const SalvagedVolume& volume) {
  SalvageFacts facts;
  facts.used = true;
  facts.source = volume.source;
  facts.metadataGone = volume.metadataGone;
  facts.groupsSearched = volume.GroupsFoundBySearch();
  if (!facts.groupsSearched) return facts;
  const GroupSearch& search = volume.search;
  for (std::size_t i = 0; i < search.found.size() && i < search.spans.size(); ++i) {
    const int k = search.found[i];
    facts.groupsFoundBySearch.push_back(SalvageFacts::Group{
        k, search.base + k * static_cast<std::int32_t>(format::kGroupSectors), search.spans[i].first,
        search.spans[i].second});
  }
  for (const int k : search.lost) AddLostGroup(facts, k);
  return facts;
}

void AddLostGroup(SalvageFacts& facts, int group) {
  std::vector<int>& lost = facts.groupsLost;
  const auto at = std::lower_bound(lost.begin(), lost.end(), group);
  if (at == lost.end() || *at != group) lost.insert(at, group);
}

// Fills `holes` (spans of `image` at or past the volume's first byte) from
// the packed copy, reading each group that holds some of their bytes once,
// in disc order; returns the bytes of the holes it could not fill (zeros).
static std::vector<ByteSpan> FillFromPackedCopy(SectorReader& reader, const std::vector<std::int32_t>& boundaries,
                                                int base, const ReadPolicy& policy, std::span<std::uint8_t> image,
                                                const std::vector<ByteSpan>& holes, const UnreadableSink& note) {
  const auto offset = static_cast<std::int64_t>(format::kVolumeOffset);
  std::vector<ByteSpan> filled;  // image bytes
  GroupBuffer buffer;
  std::vector<GroupBuffer> groups(1);
  for (std::size_t g = 0; g + 1 < boundaries.size(); ++g) {
    bool read = false;
    GroupSectorMask mask;
    for (const ByteSpan& hole : holes) {
      const std::int64_t from = std::max<std::int64_t>(static_cast<std::int64_t>(hole.begin) - offset, boundaries[g]);
      const std::int64_t to = std::min<std::int64_t>(static_cast<std::int64_t>(hole.end) - offset, boundaries[g + 1]);
      if (from >= to) continue;
      if (!read) {
        ReadSectorGroup(reader, static_cast<int>(g), buffer, base, policy, mask, note);
        groups[0].swap(buffer);
        read = true;
      }
      const std::span<std::uint8_t> part = image.subspan(static_cast<std::size_t>(from + offset),
                                                         static_cast<std::size_t>(to - from));
      const std::vector<ByteSpan> lost = ExtractReadableRange(groups, std::span<const GroupSectorMask>(&mask, 1),
                                                              static_cast<std::uint32_t>(from),
                                                              static_cast<std::uint32_t>(to), part);
      for (const ByteSpan& gap : Uncovered(lost, part.size())) {
        filled.push_back({gap.begin + static_cast<std::uint64_t>(from + offset),
                          gap.end + static_cast<std::uint64_t>(from + offset)});
      }
    }
    if (read) groups[0].swap(buffer);
  }
  filled = MergeSpans(std::move(filled));
  std::vector<ByteSpan> unfilled;
  for (const ByteSpan& hole : holes) {
    std::vector<ByteSpan> inside;  // relative to the hole
    for (const ByteSpan& span : filled) {
      const std::uint64_t begin = std::max(span.begin, hole.begin);
      const std::uint64_t end = std::min(span.end, hole.end);
      if (begin < end) inside.push_back({begin - hole.begin, end - hole.begin});
    }
    for (const ByteSpan& gap : Uncovered(inside, hole.end - hole.begin)) {
      unfilled.push_back({gap.begin + hole.begin, gap.end + hole.begin});
    }
  }
  return unfilled;
}

// The volume's bytes from `start` on from the packed copy into `out` (a
// small range: the master directory block); returns the ranges of `out` it
// could not fill.
static std::vector<ByteSpan> ReadPackedBytes(SectorReader& reader, const std::vector<std::int32_t>& boundaries,
                                             int base, const ReadPolicy& policy, std::int64_t start,
                                             std::span<std::uint8_t> out, const UnreadableSink& note) {
  const std::uint64_t first = format::kVolumeOffset + static_cast<std::uint64_t>(start);
  std::vector<std::uint8_t> scratch(first + out.size(), 0);
  std::vector<ByteSpan> lost =
      FillFromPackedCopy(reader, boundaries, base, policy, scratch, {{first, scratch.size()}}, note);
  std::copy(scratch.begin() + static_cast<std::ptrdiff_t>(first), scratch.end(), out.begin());
  for (ByteSpan& gap : lost) gap = {gap.begin - first, gap.end - first};
  return lost;
}

bool ReadSalvagedVolume(SectorReader& reader, SalvagedVolume& volume, const ReadPolicy& readPolicy) {
  volume = SalvagedVolume{};
  const ReadPolicy policy{readPolicy.retries, true};
  const UnreadableSink note = [&](std::int32_t lba) { volume.unreadable.push_back(lba); };
  const auto finish = [&](bool ok) {
    // What was read after the disc may have changed is nobody's volume.
    if (reader.DiscChanged()) {
      volume.failure = "the disc was changed during the job";
      ok = false;
    }
    std::sort(volume.unreadable.begin(), volume.unreadable.end());
    volume.unreadable.erase(std::unique(volume.unreadable.begin(), volume.unreadable.end()), volume.unreadable.end());
    return ok;
  };
  const auto fail = [&](std::string why) {
    volume.failure = std::move(why);
    return finish(false);
  };

  VolumeAreaRead& area = volume.area;
  volume.areaLoaded = ReadVolumeArea(reader, volume.image, area, policy);
  volume.unreadable = area.unreadable;
  if (area.failedLba >= 0) volume.unreadable.push_back(area.failedLba);
  volume.unreadable.insert(volume.unreadable.end(), area.searchUnreadable.begin(), area.searchUnreadable.end());
  if (area.sectorCount <= 0) return fail(DescribeVolumeAreaFailure(area));
  if (!volume.areaLoaded) volume.image.clear();
  volume.unreadableBytes = area.unreadableBytes;

  const bool areaWhole = volume.areaLoaded && volume.unreadableBytes.empty();
  if (volume.areaLoaded && PackTableReadable(volume.image, volume.unreadableBytes, volume.boundaries)) {
    volume.packTableRead = true;
  } else {
    volume.boundaries.clear();
    volume.search = SearchGroups(reader, area.sectorCount, policy, note);
    if (volume.search.base < 0) {
      const std::string why = volume.areaLoaded ? std::string("the volume area holds no readable \"Pack\" table")
                                                : DescribeVolumeAreaFailure(area);
      return fail(why + (why.empty() ? "" : ", and ") + "no group of packed data was found on the disc");
    }
    volume.boundaries = volume.search.boundaries;
  }
  if (areaWhole && MdbReadable(volume.image, {})) return finish(true);

  // The packed copy: the volume's own bytes from its byte 0, in the groups.
  const int base = SalvageGroupBase(volume);
  const std::vector<std::int32_t>& b = volume.boundaries;
  std::array<std::uint8_t, format::kMdbSize> mdb{};
  bool mdbFromArea = volume.areaLoaded && MdbReadable(volume.image, volume.unreadableBytes);
  if (mdbFromArea) {
    std::memcpy(mdb.data(), volume.image.data() + format::kMdbOffset, mdb.size());
  } else {
    if (b.empty() || b.front() > kMdbStart) {
      volume.metadataGone = true;
      return fail("the packed data begins at volume byte " + std::to_string(b.empty() ? 0 : b.front()) +
                  ", after the master directory block: the volume's metadata was only in the disc's last "
                  "sectors, which cannot be read");
    }
    const std::vector<ByteSpan> lost = ReadPackedBytes(reader, b, base, policy, kMdbStart, mdb, note);
    if (!lost.empty() || mdb[0] != 'B' || mdb[1] != 'D') {
      return fail("the master directory block could not be read from the volume area or from its copy in the "
                  "packed data");
    }
  }
  if (!volume.areaLoaded) {
    const std::int64_t end = MetadataEnd(mdb);
    if (end <= kMdbEnd) return fail("the packed copy's master directory block names no catalogue");
    if (end > kMaxPackedMetadataBytes) return fail("the packed copy's master directory block places the catalogue "
                                                   "past " + std::to_string(kMaxPackedMetadataBytes) + " bytes");
    volume.image.assign(static_cast<std::size_t>(kVolumeOffset + end), 0);
    volume.unreadableBytes = {{format::kVolumeOffset, volume.image.size()}};
  }

  // Every lost byte of the volume (not of the preamble) is sought in the packed copy.
  std::vector<ByteSpan> still;
  std::vector<ByteSpan> holes;
  std::uint64_t holeBytes = 0;
  for (const ByteSpan& hole : MergeSpans(volume.unreadableBytes)) {
    if (hole.end <= format::kVolumeOffset) {
      still.push_back(hole);
      continue;
    }
    if (hole.begin < format::kVolumeOffset) still.push_back({hole.begin, format::kVolumeOffset});
    holes.push_back({std::max<std::uint64_t>(hole.begin, format::kVolumeOffset), hole.end});
    holeBytes += holes.back().end - holes.back().begin;
  }
  std::uint64_t lostBytes = 0;
  for (const ByteSpan& gap : FillFromPackedCopy(reader, b, base, policy, volume.image, holes, note)) {
    still.push_back(gap);
    lostBytes += gap.end - gap.begin;
  }
  const bool filledAny = lostBytes < holeBytes;
  volume.unreadableBytes = MergeSpans(still);
  volume.source = !volume.areaLoaded ? MetadataSource::kPackedCopy
                  : filledAny        ? MetadataSource::kBoth
                                     : MetadataSource::kVolumeArea;
  if (!MdbReadable(volume.image, volume.unreadableBytes)) {
    return fail("the master directory block could not be read from the volume area or from its copy in the "
                "packed data");
  }
  return finish(true);
}

}  // namespace kestrow
