// Reading one sector group's data sectors into a group buffer.
#include "volume/SectorGroup.h"

#include <algorithm>
#include <cstring>

#include "drive/SectorCheck.h"

namespace kestrow {

bool ReadSectorGroup(SectorReader& reader, int group, GroupBuffer& buffer, int baseSector, const ReadPolicy& policy,
                     GroupSectorMask& unreadable, const UnreadableSink& sink) {
  unreadable.reset();
  buffer.resize(format::kGroupBufferSize);
  const std::int64_t first = static_cast<std::int64_t>(baseSector) +
                             static_cast<std::int64_t>(group) * format::kGroupSectors + 1;
  if (first < 0 || first > INT32_MAX) {
    if (policy.keepGoing) {
      unreadable.set();
      std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    }
    return false;
  }
  // Sectors past the last LBA that can be addressed fail where they begin.
  const auto count = static_cast<std::int32_t>(
      std::min<std::int64_t>(format::kGroupDataSectors, std::int64_t{INT32_MAX} - first + 1));
  const SectorConsumer copySector = [&](std::int32_t lba, std::span<const std::uint8_t> raw) {
    const std::span<const std::uint8_t> user = UserDataOf(raw);
    if (user.size() != format::kUserDataSize) return false;
    const auto index = static_cast<std::size_t>(lba - first);
    std::memcpy(buffer.data() + index * format::kUserDataSize, user.data(), format::kUserDataSize);
    return true;
  };
  const UnreadableSink zeroSector = [&](std::int32_t lba) {
    const auto index = static_cast<std::size_t>(lba - first);
    if (policy.keepGoing) {
      unreadable.set(index);
      std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(index * format::kUserDataSize),
                  format::kUserDataSize, std::uint8_t{0});
    }
    if (sink) sink(lba);
  };
  const bool whole = reader.ReadSectorRun(static_cast<std::int32_t>(first), count, copySector, policy, zeroSector);
  if (count < static_cast<std::int32_t>(format::kGroupDataSectors) && policy.keepGoing) {
    for (std::size_t i = static_cast<std::size_t>(count); i < format::kGroupDataSectors; ++i) {
      unreadable.set(i);
      std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(i * format::kUserDataSize), format::kUserDataSize,
                  std::uint8_t{0});
    }
  }
  return whole && count == static_cast<std::int32_t>(format::kGroupDataSectors);
}

}  // namespace kestrow
