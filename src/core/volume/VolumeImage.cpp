// Finding the trailer and reading the volume area into memory.
#include "volume/VolumeImage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "drive/SectorBuffer.h"
#include "drive/SectorCheck.h"
#include "volume/PackedFormat.h"

namespace kestrow {

TrailerSearch FindTrackTrailer(SectorReader& reader, std::int32_t sectorCount, std::int32_t retries) {
  TrailerSearch search;
  SectorBuffer sector;
  const std::int32_t last = sectorCount - 1;
  const std::int32_t lowest = std::max(0, last - kTrailerSearchSectors);
  for (std::int32_t lba = last; lba >= lowest; --lba) {
    bool read = false;
    for (std::int32_t attempt = 0; attempt <= std::max(retries, 0) && !read; ++attempt) {
      read = reader.ReadRawSector(lba, sector.data()) > 0;
    }
    if (reader.DiscChanged()) break;  // nothing was read, nor found unreadable
    if (!read) {
      if (lba == last) search.lastSectorUnreadable = true;
      search.unreadable.push_back(lba);
      continue;
    }
    const std::optional<TrackTrailer> trailer = ParseTrackTrailer(sector.userData());
    if (trailer && trailer->HasSignature()) {
      search.lba = lba;
      search.trailer = *trailer;
      return search;
    }
  }
  return search;
}

bool ReadVolumeArea(SectorReader& reader, VolumeImage& image, VolumeAreaRead& read, const ReadPolicy& policy) {
  read = VolumeAreaRead{};
  const std::int32_t capacity = reader.ReadCapacity();
  if (capacity <= 0) {
    return false;
  }
  read.sectorCount = capacity;
  const TrailerSearch search = FindTrackTrailer(reader, capacity, policy.retries);
  read.lastSectorUnreadable = search.lastSectorUnreadable;
  read.searchUnreadable = search.unreadable;
  if (search.lba < 0) {
    if (search.lastSectorUnreadable) read.failedLba = capacity - 1;
    return false;
  }
  const TrackTrailer& trailer = search.trailer;
  read.trailerLba = search.lba;
  read.trailer = trailer;

  const std::uint64_t size = trailer.AreaBytes();
  if (size == 0) {
    image.clear();
    return true;
  }
  // The area must lie on the disc: a trailer that points past the last sector
  // would otherwise make us allocate up to 8 GiB before the first read fails.
  const std::uint64_t discUnits = static_cast<std::uint64_t>(capacity) * format::kUnitsPerSector;
  if (trailer.volumeEnd > discUnits) {
    return false;
  }
  image.resize(static_cast<std::size_t>(size));

  std::int32_t lba = static_cast<std::int32_t>(trailer.volumeStart / format::kUnitsPerSector);
  std::size_t skip = (trailer.volumeStart % format::kUnitsPerSector) * format::kUnitSize;
  std::size_t position = 0;
  // Each sector yields its user data less the skip; only the first sector is
  // entered at an offset. Only whole sectors of this address come here.
  const SectorConsumer copySector = [&](std::int32_t, std::span<const std::uint8_t> raw) {
    const std::span<const std::uint8_t> user = UserDataOf(raw);
    if (user.size() <= skip) return false;
    const std::size_t count = std::min(user.size() - skip, image.size() - position);
    std::memcpy(image.data() + position, user.data() + skip, count);
    position += count;
    skip = 0;
    return true;
  };
  // With keep-going a sector that cannot be read stands for its user bytes,
  // as zeros; without, it ends the load.
  const UnreadableSink unreadableSector = [&](std::int32_t at) {
    read.failedLba = at;
    if (!policy.keepGoing) return;
    const std::size_t count = std::min(format::kUserDataSize - skip, image.size() - position);
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(position), count, std::uint8_t{0});
    read.unreadable.push_back(at);
    read.unreadableBytes.push_back({position, position + count});
    position += count;
    skip = 0;
  };
  // Each sector of the area is read once, in the runs planned here.
  while (position < image.size()) {
    const std::uint64_t wanted = skip + (image.size() - position);
    const std::uint64_t sectors = (wanted + format::kUserDataSize - 1) / format::kUserDataSize;
    const std::int64_t last = std::int64_t{lba} + static_cast<std::int64_t>(sectors) - 1;
    if (last > INT32_MAX) {
      return false;
    }
    const bool whole =
        reader.ReadSectorRun(lba, static_cast<std::int32_t>(sectors), copySector, policy, unreadableSector);
    if (!whole && !policy.keepGoing) {
      return false;
    }
    lba = static_cast<std::int32_t>(last + 1);
  }
  if (policy.keepGoing) read.failedLba = -1;  // nothing ended the load
  return true;
}

}  // namespace kestrow
