// Reading the volume area into memory, checking the master directory block,
// and reading one sector group.
#include "volume/VolumeImage.h"

#include <algorithm>
#include <cstring>

#include "drive/KestrowCore.h"
#include "drive/SectorBuffer.h"
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
  while (position < image.size()) {
    const std::int32_t transferred = ReadRawSector(lba, sector.data());
    // A transfer too short to hold the wanted user bytes counts as a failed read.
    const std::int64_t available =
        static_cast<std::int64_t>(transferred) - static_cast<std::int64_t>(format::kNonUserBytes + skip);
    if (transferred <= 0 || available <= 0) {
      m_nErrorState = kErrorReadOrFormat;
      return false;
    }
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(available), image.size() - position);
    std::memcpy(image.data() + position, sector.data() + format::kUserDataOffset + skip, count);
    position += count;
    ++lba;
    skip = 0;
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
  SectorBuffer sector;
  const std::int64_t first =
      static_cast<std::int64_t>(baseSector) + static_cast<std::int64_t>(group) * format::kGroupSectors;
  for (std::size_t i = 1; i <= format::kGroupDataSectors; ++i) {
    const std::int64_t lba = first + static_cast<std::int64_t>(i);
    if (lba < 0 || lba > INT32_MAX) return false;
    const std::int32_t transferred = ReadRawSector(static_cast<std::int32_t>(lba), sector.data());
    // The whole user data is taken, so the transfer must have delivered it;
    // a shorter one would leave the previous sector's bytes in its place.
    if (transferred < static_cast<std::int32_t>(format::kUserDataOffset + format::kUserDataSize)) {
      return false;
    }
    std::memcpy(buffer.data() + (i - 1) * format::kUserDataSize,
                sector.data() + format::kUserDataOffset, format::kUserDataSize);
  }
  return true;
}

}  // namespace kestrow
