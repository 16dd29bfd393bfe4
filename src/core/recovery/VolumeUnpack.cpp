// The pure rules of the volume image: its size, the volume's own
// structures, where the volume area's copy meets the packed copy, and what
// lost ranges hit.
#include "recovery/VolumeUnpack.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "recovery/DamageReport.h"
#include "recovery/DataLocation.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::size_t kExtentsFileExtentsOffset = 134;  // drXTExtRec: 3 x (16-bit start, 16-bit count)
constexpr std::size_t kExtentSize = 4;

// The volume bytes of the three extents of a record in the master directory
// block, empty ones left out.
std::vector<ByteSpan> MdbExtentSpans(const MasterDirectoryBlock& mdb, std::size_t record) {
  const ByteReader reader(mdb.bytes);
  const std::uint64_t blockSize = mdb.drAlBlkSiz();
  std::vector<ByteSpan> spans;
  for (std::size_t i = 0; i < format::kMdbExtentCount; ++i) {
    const std::uint64_t start = *reader.be16(record + kExtentSize * i);
    const std::uint64_t count = *reader.be16(record + kExtentSize * i + 2);
    if (count == 0 || blockSize == 0) continue;
    const std::uint64_t begin = format::kAllocationBlock0 + start * blockSize;
    spans.push_back({begin, begin + count * blockSize});
  }
  return spans;
}

// The parts of `lost` inside [begin, end), as offsets from `begin`.
std::vector<ByteSpan> LostWithin(const std::vector<ByteSpan>& lost, std::uint64_t begin, std::uint64_t end) {
  std::vector<ByteSpan> inside;
  auto it = std::lower_bound(lost.begin(), lost.end(), begin,
                             [](const ByteSpan& span, std::uint64_t at) { return span.end <= at; });
  for (; it != lost.end() && it->begin < end; ++it) {
    inside.push_back({std::max(it->begin, begin) - begin, std::min(it->end, end) - begin});
  }
  return inside;
}

// The ranges of one fork that `lost` (volume bytes) takes, in fork offsets.
std::vector<ByteSpan> ForkLost(const std::vector<ByteSpan>& lost, const FileEntry& entry,
                               std::uint32_t allocBlockSize, Fork fork) {
  const auto blockSize = static_cast<std::int32_t>(std::min<std::uint32_t>(allocBlockSize, INT32_MAX));
  std::vector<ByteSpan> ranges;
  for (const ForkPiece& piece : ForkPieces(entry, blockSize, fork)) {
    if (piece.start < 0) continue;
    const auto start = static_cast<std::uint64_t>(piece.start);
    for (const ByteSpan& gap : LostWithin(lost, start, start + piece.length)) {
      ranges.push_back({gap.begin + piece.at, gap.end + piece.at});
    }
  }
  return MergeSpans(std::move(ranges));
}

bool WholeOf(const std::vector<ByteSpan>& ranges, std::uint64_t length) {
  return length == 0 || (ranges.size() == 1 && ranges[0].begin == 0 && ranges[0].end >= length);
}

}  // namespace

std::optional<std::uint64_t> MdbVolumeBytes(const MasterDirectoryBlock& mdb) {
  const std::uint64_t blockSize = mdb.drAlBlkSiz();
  if (blockSize == 0 || blockSize % format::kUnitSize != 0) return std::nullopt;
  const std::uint64_t bytes = std::uint64_t{mdb.drAlBlSt()} * format::kUnitSize +
                              std::uint64_t{mdb.drNmAlBlks()} * blockSize + kAlternateMdbFromEnd;
  if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
  return bytes;
}

std::vector<NamedSpan> VolumeStructures(const MasterDirectoryBlock& mdb, std::uint64_t volumeBytes) {
  std::vector<NamedSpan> structures = {
      {"boot blocks", {0, format::kMdbVolumeOffset}},
      {"master directory block", {format::kMdbVolumeOffset, kMdbSectorEnd}},
      {"volume bitmap", {kMdbSectorEnd, format::kAllocationBlock0}},
  };
  for (const ByteSpan& span : MdbExtentSpans(mdb, kExtentsFileExtentsOffset)) structures.push_back({"extents file", span});
  for (const ByteSpan& span : MdbExtentSpans(mdb, format::kMdbCatalogExtentsOffset)) {
    structures.push_back({"catalogue file", span});
  }
  if (volumeBytes >= kMdbSectorEnd + kAlternateMdbFromEnd) {
    const std::uint64_t alternate = volumeBytes - kAlternateMdbFromEnd;
    structures.push_back({"alternate master directory block", {alternate, alternate + format::kUnitSize}});
  }
  return structures;
}

std::uint64_t MetadataEnd(const MasterDirectoryBlock& mdb) {
  std::uint64_t end = 0;
  for (const std::size_t record : {kExtentsFileExtentsOffset, format::kMdbCatalogExtentsOffset}) {
    for (const ByteSpan& span : MdbExtentSpans(mdb, record)) end = std::max(end, span.end);
  }
  return end;
}

std::vector<ByteSpan> IntersectSpans(const std::vector<ByteSpan>& a, const std::vector<ByteSpan>& b) {
  std::vector<ByteSpan> both;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::uint64_t begin = std::max(a[i].begin, b[j].begin);
    const std::uint64_t end = std::min(a[i].end, b[j].end);
    if (begin < end) both.push_back({begin, end});
    if (a[i].end < b[j].end) {
      ++i;
    } else {
      ++j;
    }
  }
  return both;
}

AreaMeeting MeetVolumeArea(std::span<std::uint8_t> packed, const std::vector<ByteSpan>& packedMissing,
                           std::span<const std::uint8_t> area, const std::vector<ByteSpan>& areaUnreadable) {
  AreaMeeting meeting;
  const std::uint64_t reach = std::min(packed.size(), area.size());
  const std::vector<ByteSpan> missing = IntersectSpans(MergeSpans(packedMissing), {{0, reach}});
  const std::vector<ByteSpan> areaHolds = Uncovered(areaUnreadable, reach);
  for (const ByteSpan& both : IntersectSpans(Uncovered(missing, reach), areaHolds)) {
    for (std::uint64_t k = both.begin; k < both.end; ++k) meeting.differing += packed[k] != area[k] ? 1 : 0;
  }
  meeting.taken = IntersectSpans(missing, areaHolds);
  for (const ByteSpan& take : meeting.taken) {
    std::memcpy(packed.data() + take.begin, area.data() + take.begin, static_cast<std::size_t>(take.end - take.begin));
  }
  return meeting;
}

VolumeHits FindHits(const std::vector<ByteSpan>& lostRanges, const FileTable& files, std::uint32_t allocBlockSize,
                    const std::vector<NamedSpan>& structures) {
  VolumeHits hits;
  const std::vector<ByteSpan> lost = MergeSpans(lostRanges);
  if (lost.empty()) return hits;
  for (const NamedSpan& structure : structures) {
    if (!Overlaps(lost, structure.bytes.begin, structure.bytes.end)) continue;
    if (std::find(hits.structures.begin(), hits.structures.end(), structure.name) == hits.structures.end()) {
      hits.structures.push_back(structure.name);
    }
  }
  for (std::size_t row = 0; row < files.size(); ++row) {
    const FileEntry& entry = files[row];
    FileResult result;
    result.lostRanges = ForkLost(lost, entry, allocBlockSize, Fork::kData);
    result.rsrcLostRanges = ForkLost(lost, entry, allocBlockSize, Fork::kResource);
    if (result.lostRanges.empty() && result.rsrcLostRanges.empty()) continue;
    const bool nothingLeft = WholeOf(result.lostRanges, entry.dataLogicalLength) &&
                             WholeOf(result.rsrcLostRanges, entry.rsrcLogicalLength);
    result.status = nothingLeft ? FileStatus::kLost : FileStatus::kDamaged;
    hits.files.push_back(row);
    hits.results.push_back(std::move(result));
  }
  return hits;
}

DamageReport ReportOfUnpack(const UnpackOutcome& outcome,
                            const std::function<std::string(const FileEntry&)>& displayPath) {
  DamageReport report;
  for (std::size_t i = 0; i < outcome.filesHit.size() && i < outcome.fileResults.size(); ++i) {
    const FileEntry& entry = outcome.filesHit[i];
    const FileResult& result = outcome.fileResults[i];
    report.files.push_back(ReportedFile{displayPath(entry), result.status, entry.dataLogicalLength,
                                        result.lostRanges, result.reason, result.rsrcLostRanges});
  }
  report.unreadableSectors = outcome.unreadableSectors;
  report.lostCatalogNodes = outcome.lostCatalogNodes;
  report.salvage = outcome.salvage;
  report.volumeImage = VolumeImageDamage{outcome.lostVolumeRanges, outcome.structuresHit,
                                         outcome.bytesDifferingFromArea};
  return report;
}

}  // namespace kestrow
