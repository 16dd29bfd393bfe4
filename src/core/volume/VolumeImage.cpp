// Reading the volume area into memory, checking the master directory block,
// and reading one sector group.
#include "volume/VolumeImage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "KestrowCore.h"
#include "SectorBuffer.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {

bool CKestrowCore::LoadVolumeImage(VolumeImage& image, TrackTrailer* trailerOut) {
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return false;
  }
  const bool loaded = ReadVolumeImage(image, trailerOut);
  CloseDevice();
  return loaded;
}

bool CKestrowCore::ReadVolumeImage(VolumeImage& image, TrackTrailer* trailerOut) {
  const std::int32_t capacity = ReadCapacity();
  if (capacity <= 0) {
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  SectorBuffer sector;
  if (ReadRawSector(capacity - 1, sector.data()) <= 0) {
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  const std::optional<TrackTrailer> trailer = ParseTrackTrailer(sector.userData());
  if (!trailer || !trailer->HasSignature()) {
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  if (trailerOut) *trailerOut = *trailer;

  const std::uint64_t size = trailer->AreaBytes();
  if (size == 0) {
    image.clear();
    return true;
  }
  // The area must lie on the disc: a trailer that points past the last sector
  // would otherwise make us allocate up to 8 GiB before the first read fails.
  const std::uint64_t discUnits = static_cast<std::uint64_t>(capacity) * format::kUnitsPerSector;
  if (trailer->volumeEnd > discUnits) {
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  image.resize(static_cast<std::size_t>(size));

  std::int32_t lba = static_cast<std::int32_t>(trailer->volumeStart / format::kUnitsPerSector);
  std::size_t skip = (trailer->volumeStart % format::kUnitsPerSector) * format::kUnitSize;
  std::size_t position = 0;
  // Each sector yields its transfer less the 304 bytes around the user data
  // and less the skip; only the first sector is entered at an offset.
  const SectorConsumer copySector = [&](std::int32_t, std::span<const std::uint8_t> raw) {
    // A transfer too short to hold the wanted user bytes counts as a failed read.
    const std::int64_t available =
        static_cast<std::int64_t>(raw.size()) - static_cast<std::int64_t>(format::kNonUserBytes + skip);
    if (available <= 0) return false;
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(available), image.size() - position);
    std::memcpy(image.data() + position, raw.data() + format::kUserDataOffset + skip, count);
    position += count;
    skip = 0;
    return true;
  };
  // Whole transfers fill the area with the sectors planned here; a short one
  // leaves a gap that the next run goes on to fill.
  while (position < image.size()) {
    const std::uint64_t wanted = skip + (image.size() - position);
    const std::uint64_t sectors = (wanted + format::kUserDataSize - 1) / format::kUserDataSize;
    const std::int64_t last = std::int64_t{lba} + static_cast<std::int64_t>(sectors) - 1;
    if (last > INT32_MAX || !ReadSectorRun(lba, static_cast<std::int32_t>(sectors), copySector)) {
      m_nErrorState = kErrorReadOrFormat;
      return false;
    }
    lba = static_cast<std::int32_t>(last + 1);
  }
  return true;
}

bool CKestrowCore::ReadMasterDirectoryBlock(const VolumeImage& image, MasterDirectoryBlock& mdb) {
  const ByteReader reader(image);
  if (!reader.has(format::kMdbOffset, format::kMdbSize) || !reader.matches(format::kMdbOffset, "BD")) {
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  std::memcpy(mdb.bytes.data(), image.data() + format::kMdbOffset, format::kMdbSize);
  return true;
}

bool CKestrowCore::ReadSectorGroup(int group, std::vector<std::uint8_t>& buffer, int baseSector) {
  buffer.resize(format::kGroupBufferSize);
  const std::int64_t first = static_cast<std::int64_t>(baseSector) +
                             static_cast<std::int64_t>(group) * format::kGroupSectors + 1;
  if (first < 0 || first > INT32_MAX) return false;
  // Sectors past the last LBA that can be addressed fail where they begin.
  const auto count = static_cast<std::int32_t>(
      std::min<std::int64_t>(format::kGroupDataSectors, std::int64_t{INT32_MAX} - first + 1));
  const SectorConsumer copySector = [&](std::int32_t lba, std::span<const std::uint8_t> raw) {
    // The whole user data is taken, so the transfer must have delivered it;
    // a shorter one would leave stale bytes in its place.
    if (raw.size() < format::kUserDataOffset + format::kUserDataSize) return false;
    const auto index = static_cast<std::size_t>(lba - first);
    std::memcpy(buffer.data() + index * format::kUserDataSize, raw.data() + format::kUserDataOffset,
                format::kUserDataSize);
    return true;
  };
  return ReadSectorRun(static_cast<std::int32_t>(first), count, copySector) &&
         count == static_cast<std::int32_t>(format::kGroupDataSectors);
}

}  // namespace kestrow
