#include "drive/ScsiCommands.h"

#include <algorithm>
#include <limits>

#include "text/ByteReader.h"
#include "drive/RawSector.h"

namespace kestrow::scsi {

std::array<std::uint8_t, 10> BuildReadCapacity10() {
  std::array<std::uint8_t, 10> cdb{};
  cdb[0] = kOpReadCapacity10;
  return cdb;
}

std::array<std::uint8_t, 12> BuildReadCd12(std::uint32_t lba, std::uint32_t sectorCount) {
  std::array<std::uint8_t, 12> cdb{};
  cdb[0] = kOpReadCd12;
  cdb[1] = 0;  // any sector type
  PutBe32(&cdb[2], lba);
  PutBe24(&cdb[6], sectorCount);
  cdb[9] = kReadCdWholeSector;
  cdb[10] = 0;  // no sub-channel data
  return cdb;
}

std::int32_t ReadCapacity(Transport& transport, CommandResult* outcome) {
  std::array<std::uint8_t, kCapacityResultSize> result{};
  const auto cdb = BuildReadCapacity10();
  const CommandResult r = transport.Execute(cdb, result, kTimeoutSeconds);
  if (outcome) *outcome = r;
  return CapacityOf(r, result);
}

std::int32_t CapacityOf(const CommandResult& r, std::span<const std::uint8_t> data) {
  if (!r.ok || r.transferred == 0 || data.size() < 4) return -1;
  const std::uint32_t lastLba = *ByteReader(data).be32(0);
  // A last LBA of 0x7FFFFFFF or more cannot be counted in 32 signed bits.
  if (lastLba >= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) return -1;
  return static_cast<std::int32_t>(lastLba) + 1;
}

std::int32_t ReadRawSector(Transport& transport, std::int32_t lba, std::span<std::uint8_t> sector,
                           CommandResult* outcome) {
  if (lba < 0 || sector.size() < format::kRawSectorSize) return -1;
  const auto cdb = BuildReadCd12(static_cast<std::uint32_t>(lba), 1);
  const CommandResult r =
      transport.Execute(cdb, sector.first(format::kRawSectorSize), kTimeoutSeconds);
  if (outcome) *outcome = r;
  if (!r.ok || r.transferred == 0) return -1;
  return static_cast<std::int32_t>(std::min<std::uint32_t>(r.transferred, format::kRawSectorSize));
}

}  // namespace kestrow::scsi
