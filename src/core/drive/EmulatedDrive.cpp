#include "drive/EmulatedDrive.h"

#include <algorithm>

#include "drive/CommandJudgement.h"
#include "drive/ScsiCommands.h"
#include "text/ByteReader.h"
#include "drive/RawSector.h"

namespace kestrow {
namespace {

constexpr SenseData kNotReady{0x02, 0x3A, 0x00};          // medium not present
constexpr SenseData kInvalidOpcode{0x05, 0x20, 0x00};     // invalid command operation code
constexpr SenseData kInvalidField{0x05, 0x24, 0x00};      // invalid field in CDB
constexpr SenseData kLbaOutOfRange{0x05, 0x21, 0x00};     // logical block address out of range
constexpr SenseData kUnrecoveredRead{0x03, 0x11, 0x05};   // L-EC uncorrectable error

// A drive answers a command it cannot carry out with CHECK CONDITION and sense data.
CommandResult Fail(SenseData sense) {
  CommandResult result;
  result.sense = sense;
  result.scsiStatus = kScsiStatusCheckCondition;
  return result;
}

CommandResult Succeed(std::uint32_t transferred) {
  CommandResult result;
  result.ok = true;
  result.transferred = transferred;
  return result;
}

}  // namespace

CommandResult EmulatedDrive::Execute(std::span<const std::uint8_t> cdb,
                                     std::span<std::uint8_t> dataIn, unsigned /*timeoutSeconds*/) {
  if (!IsOpen()) return Fail(kNotReady);
  if (cdb.empty()) return Fail(kInvalidOpcode);
  if (cdb[0] == scsi::kOpReadCapacity10 && cdb.size() >= 10) return ReadCapacity(dataIn);
  if (cdb[0] == scsi::kOpReadCd12 && cdb.size() >= 12) return ReadCd(cdb, dataIn);
  return Fail(kInvalidOpcode);
}

CommandResult EmulatedDrive::ReadCapacity(std::span<std::uint8_t> dataIn) const {
  const std::uint32_t count = SectorCount();
  if (count == 0) return Fail(kNotReady);
  if (dataIn.size() < scsi::kCapacityResultSize) return Fail(kInvalidField);
  std::fill(dataIn.begin(), dataIn.begin() + scsi::kCapacityResultSize, std::uint8_t{0});
  PutBe32(&dataIn[0], count - 1);
  PutBe32(&dataIn[4], static_cast<std::uint32_t>(format::kUserDataSize));
  return Succeed(static_cast<std::uint32_t>(scsi::kCapacityResultSize));
}

CommandResult EmulatedDrive::ReadCd(std::span<const std::uint8_t> cdb,
                                    std::span<std::uint8_t> dataIn) {
  const ByteReader reader(cdb);
  const std::uint32_t lba = *reader.be32(2);
  const std::uint32_t count = *reader.be24(6);
  if (cdb[9] != scsi::kReadCdWholeSector) return Fail(kInvalidField);
  if (static_cast<std::uint64_t>(count) * format::kRawSectorSize > dataIn.size()) {
    return Fail(kInvalidField);
  }
  const std::uint64_t end = static_cast<std::uint64_t>(lba) + count;
  if (end > SectorCount()) return Fail(kLbaOutOfRange);
  if (!ReadSectors(lba, count, dataIn.first(static_cast<std::size_t>(count) * format::kRawSectorSize))) {
    return Fail(kUnrecoveredRead);
  }
  return Succeed(static_cast<std::uint32_t>(count * format::kRawSectorSize));
}

bool EmulatedDrive::ReadSectors(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> raw) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!ReadSector(lba + i, raw.subspan(static_cast<std::size_t>(i) * format::kRawSectorSize,
                                         format::kRawSectorSize))) {
      return false;
    }
  }
  return true;
}

}  // namespace kestrow
