#include "DiscBuilder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "HfsVolume.h"
#include "drive/Mode1Sector.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::mkdisc {
namespace {

constexpr std::uint64_t kSector = format::kUserDataSize;
constexpr std::uint64_t kGroup = format::kGroupSectors;
constexpr std::uint64_t kUnit = format::kUnitSize;
constexpr std::uint64_t kMax24 = 0xFFFFFF;
constexpr std::uint64_t kMaxVolumeBytes = 0x7FFFFFFF;  // volume byte offsets are read as signed 32-bit

using UserData = std::array<std::uint8_t, format::kUserDataSize>;

bool CheckOptions(const DiscOptions& options, std::string& error) {
  if (options.volumeStartOffset >= format::kUnitsPerSector) {
    error = "the volume start offset must be 0 to 3 (512-byte units)";
    return false;
  }
  if (options.firstBlock > kMax24 / format::kUnitsPerBlock) {
    error = "the first packed block is past what the tables can name";
    return false;
  }
  if (options.leadingSectors > kMax24) {
    error = "too many leading sectors";
    return false;
  }
  return true;
}

// Whole groups of sectors that the volume area and the trailer sector take,
// as the reader computes it from the area's size.
std::uint64_t VolumeGroups(std::uint64_t areaBytes) {
  const std::uint64_t sectors = (areaBytes + kSector - 1) / kSector + 1;
  return (sectors + kGroup - 1) / kGroup;
}

// The area grown, 512 bytes at a time, until it ends before the trailer
// sector when it starts `startBytes` into the volume section.
std::uint64_t FitAreaBytes(std::uint64_t areaBytes, std::uint64_t startBytes) {
  while (startBytes + areaBytes > (VolumeGroups(areaBytes) * kGroup - 1) * kSector) areaBytes += kUnit;
  return areaBytes;
}

// The "Pack" table: group k's first block position, then the packed data's end.
void WritePackTable(const std::vector<PackedGroup>& groups, std::uint32_t blockCount, std::vector<std::uint8_t>& area) {
  std::copy_n(format::kPackSignature, 4, area.begin() + format::kPackTableOffset);
  PutBe24(area.data() + format::kPackCountOffset, static_cast<std::uint32_t>(groups.size() + 1));
  auto putBoundary = [&](std::size_t k, std::uint64_t block) {
    std::uint8_t* entry = area.data() + format::kPackEntriesOffset + k * format::kPackEntrySize;
    PutBe24(entry + format::kPackEntryValueOffset, static_cast<std::uint32_t>(block * format::kUnitsPerBlock));
  };
  for (std::size_t k = 0; k < groups.size(); ++k) putBoundary(k, groups[k].firstBlock);
  putBoundary(groups.size(), blockCount);
}

// Preamble with the "Pack" table, then the volume up to the end of its
// catalogue, then zeros up to `areaBytes`.
std::vector<std::uint8_t> BuildArea(std::span<const std::uint8_t> volume, std::uint64_t catalogEnd,
                                    std::uint64_t areaBytes, const std::vector<PackedGroup>& groups,
                                    std::uint32_t blockCount) {
  std::vector<std::uint8_t> area(static_cast<std::size_t>(areaBytes), 0);
  WritePackTable(groups, blockCount, area);
  std::memcpy(area.data() + format::kVolumeOffset, volume.data(), static_cast<std::size_t>(catalogEnd));
  return area;
}

DiscLayout LayOut(const DiscOptions& options, const std::vector<PackedGroup>& groups, std::uint64_t blockCount,
                  std::uint64_t areaBytes) {
  DiscLayout layout;
  const std::uint64_t sectionStart = options.leadingSectors + kGroup * groups.size();
  const std::uint64_t sectionSectors = VolumeGroups(areaBytes) * kGroup;
  const std::uint64_t volumeStart = sectionStart * format::kUnitsPerSector + options.volumeStartOffset;
  layout.firstGroupSector = static_cast<std::uint32_t>(options.leadingSectors);
  layout.groupCount = static_cast<std::uint32_t>(groups.size());
  layout.blockCount = static_cast<std::uint32_t>(blockCount);
  for (const PackedGroup& group : groups) layout.compressedBlocks += group.compressedBlocks;
  layout.volumeSectionSector = static_cast<std::uint32_t>(sectionStart);
  layout.volumeSectionSectors = static_cast<std::uint32_t>(sectionSectors);
  layout.sectorCount = static_cast<std::uint32_t>(sectionStart + sectionSectors);
  layout.volumeStart = static_cast<std::uint32_t>(volumeStart);
  layout.volumeEnd = static_cast<std::uint32_t>(volumeStart + areaBytes / kUnit);
  layout.areaBytes = areaBytes;
  return layout;
}

void WriteTrailer(const DiscLayout& layout, UserData& user) {
  std::memcpy(user.data(), format::kTrailerSignature, 4);
  PutBe32(user.data() + format::kTrailerVolumeStartOffset, layout.volumeStart);
  PutBe24(user.data() + format::kTrailerVolumeEndOffset, layout.volumeEnd);
}

// Copies bytes [from, from + 2048) of `bytes`, seen at offset `at`, into one sector.
void FillFrom(std::span<const std::uint8_t> bytes, std::uint64_t at, std::uint64_t from, UserData& user) {
  user.fill(0);
  const std::uint64_t begin = std::max(from, at);
  const std::uint64_t end = std::min(from + kSector, at + bytes.size());
  if (begin >= end) return;
  std::memcpy(user.data() + (begin - from), bytes.data() + (begin - at), static_cast<std::size_t>(end - begin));
}

class SectorEmitter {
 public:
  explicit SectorEmitter(const SectorSink& sink) : m_sink(sink) {}

  bool Emit(const UserData& user) {
    SynthesizeMode1Sector(m_lba, user, m_raw);
    ++m_lba;
    return m_sink(m_raw);
  }

 private:
  const SectorSink& m_sink;
  std::uint32_t m_lba = 0;
  std::array<std::uint8_t, format::kRawSectorSize> m_raw{};
};

}  // namespace

bool PlanDisc(std::span<const std::uint8_t> volume, const DiscOptions& options, DiscPlan& plan, std::string& error) {
  if (!CheckOptions(options, error)) return false;
  if (volume.size() > kMaxVolumeBytes) {
    error = "the volume is larger than 2 GiB";
    return false;
  }
  HfsVolumeInfo info;
  if (!CheckHfsVolume(volume, info, error)) return false;

  std::vector<PackedGroup> groups = PackVolume(volume, {options.blocksPerGroup, options.uncompressed, options.firstBlock});
  if (groups.size() + 1 > format::kPackMaxEntries) {
    error = "the volume needs " + std::to_string(groups.size()) + " sector groups; the packed-data table holds " +
            std::to_string(format::kPackMaxEntries - 1) + " (allow more blocks per group)";
    return false;
  }
  const std::uint64_t blockCount = BlockCount(volume.size());
  const std::uint64_t startBytes = std::uint64_t{options.volumeStartOffset} * kUnit;
  const std::uint64_t areaBytes = FitAreaBytes(format::kVolumeOffset + info.catalogEnd, startBytes);
  const DiscLayout layout = LayOut(options, groups, blockCount, areaBytes);
  if (std::uint64_t{layout.volumeStart} + areaBytes / kUnit > kMax24) {
    error = "the volume area ends past 512-byte unit 16,777,215, which the trailer cannot name";
    return false;
  }
  plan.layout = layout;
  plan.area = BuildArea(volume, info.catalogEnd, areaBytes, groups, layout.blockCount);
  plan.groups = std::move(groups);
  return true;
}

bool EmitDisc(const DiscPlan& plan, const SectorSink& sink) {
  const DiscLayout& layout = plan.layout;
  SectorEmitter emitter(sink);
  UserData user{};
  for (std::uint32_t i = 0; i < layout.firstGroupSector; ++i) {
    if (!emitter.Emit(user)) return false;
  }
  for (const PackedGroup& group : plan.groups) {
    user.fill(0);  // sector 0 of a group is never read
    if (!emitter.Emit(user)) return false;
    for (std::uint64_t i = 0; i < format::kGroupDataSectors; ++i) {
      FillFrom(group.buffer, 0, i * kSector, user);
      if (!emitter.Emit(user)) return false;
    }
  }
  const std::uint64_t areaAt = (std::uint64_t{layout.volumeStart} % format::kUnitsPerSector) * kUnit;
  for (std::uint64_t i = 0; i + 1 < layout.volumeSectionSectors; ++i) {
    FillFrom(plan.area, areaAt, i * kSector, user);
    if (!emitter.Emit(user)) return false;
  }
  user.fill(0);
  WriteTrailer(layout, user);
  return emitter.Emit(user);
}

bool BuildDisc(std::span<const std::uint8_t> volume, const DiscOptions& options, std::vector<std::uint8_t>& disc,
               DiscLayout& layout, std::string& error) {
  DiscPlan plan;
  if (!PlanDisc(volume, options, plan, error)) return false;
  disc.clear();
  disc.reserve(std::size_t{plan.layout.sectorCount} * format::kRawSectorSize);
  EmitDisc(plan, [&](std::span<const std::uint8_t> raw) {
    disc.insert(disc.end(), raw.begin(), raw.end());
    return true;
  });
  layout = plan.layout;
  return true;
}

}  // namespace kestrow::mkdisc
