#include "recovery/JobVolume.h"

#include "drive/SectorReader.h"
#include "recovery/DataLocation.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

std::uint64_t SectorsOf(std::size_t bytes) {
  return (std::uint64_t{bytes} + format::kUserDataSize - 1) / format::kUserDataSize;
}

bool Fail(JobVolume& volume, JobVolumeFailure why, std::string text = {}) {
  volume.failed = why;
  volume.failure = std::move(text);
  return false;
}

bool LoadSalvaged(SectorReader& reader, const ReadPolicy& policy, JobVolume& volume) {
  SalvagedVolume salvaged;
  const bool loaded = ReadSalvagedVolume(reader, salvaged, policy);
  volume.area = salvaged.area;
  volume.salvage = FactsOf(salvaged);
  volume.unreadable = salvaged.unreadable;
  if (reader.DiscChanged()) return Fail(volume, JobVolumeFailure::kDiscChanged);
  if (!loaded) {
    return Fail(volume, salvaged.NothingFound() ? JobVolumeFailure::kNoVolume : JobVolumeFailure::kNoMdb,
                salvaged.failure);
  }
  volume.sectorsRead = salvaged.search.sectorsRead + SectorsOf(salvaged.image.size());
  ParseMasterDirectoryBlock(salvaged.image, volume.mdb);
  volume.layout = MakeJobLayout(salvaged, volume.mdb);
  volume.unreadableBytes = std::move(salvaged.unreadableBytes);
  volume.image = std::move(salvaged.image);
  return true;
}

bool LoadVolumeArea(SectorReader& reader, const ReadPolicy& policy, JobVolume& volume) {
  VolumeAreaRead& area = volume.area;
  const bool loaded = ReadVolumeArea(reader, volume.image, area, policy);
  volume.unreadable = area.unreadable;
  if (area.failedLba >= 0) volume.unreadable.push_back(area.failedLba);
  if (reader.DiscChanged()) return Fail(volume, JobVolumeFailure::kDiscChanged);
  if (!loaded) return Fail(volume, JobVolumeFailure::kNoVolume, DescribeVolumeAreaFailure(area));
  volume.unreadableBytes = area.unreadableBytes;
  volume.sectorsRead = SectorsOf(volume.image.size());
  if (!ParseMasterDirectoryBlock(volume.image, volume.mdb) ||
      Overlaps(volume.unreadableBytes, format::kMdbOffset, format::kMdbOffset + format::kMdbSize)) {
    return Fail(volume, JobVolumeFailure::kNoMdb);
  }
  std::vector<std::int32_t> boundaries;
  if (!ReadPackTable(volume.image, boundaries) ||
      Overlaps(volume.unreadableBytes, format::kPackTableOffset,
               format::kPackEntriesOffset + boundaries.size() * format::kPackEntrySize)) {
    return Fail(volume, JobVolumeFailure::kNoPackTable, "the volume area holds no readable \"Pack\" table");
  }
  volume.layout = MakeJobLayout(area, volume.image.size(), std::move(boundaries), volume.mdb);
  return true;
}

}  // namespace

bool LoadJobVolume(SectorReader& reader, const ReadPolicy& policy, bool salvage, JobVolume& volume) {
  volume = JobVolume{};
  volume.salvaged = salvage;
  return salvage ? LoadSalvaged(reader, policy, volume) : LoadVolumeArea(reader, policy, volume);
}

}  // namespace kestrow
