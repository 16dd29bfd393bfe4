#include "SimulatedDriveTransport.h"

#include <utility>

#include "drive/ScsiCommands.h"
#include "text/ByteReader.h"
#include "drive/RawSector.h"

namespace kestrow {

double DriveCosts::StreamingSeconds(std::uint64_t sectors, std::uint64_t sectorsPerCommand) const {
  const std::uint64_t perCommand = sectorsPerCommand == 0 ? 1 : sectorsPerCommand;
  const std::uint64_t commands = (sectors + perCommand - 1) / perCommand;
  return Seconds(commands, sectors * format::kRawSectorSize);
}

SimulatedDriveTransport::SimulatedDriveTransport(std::unique_ptr<Transport> inner, DriveCosts costs)
    : m_inner(std::move(inner)), m_costs(costs) {}

void SimulatedDriveTransport::ResetCounters() {
  m_counters = {};
  m_readBits.clear();
  m_distinct = 0;
}

bool SimulatedDriveTransport::WasRead(std::uint32_t lba) const {
  const std::size_t word = lba / 64;
  return word < m_readBits.size() && ((m_readBits[word] >> (lba % 64)) & 1u) != 0;
}

void SimulatedDriveTransport::MarkRead(std::uint64_t first, std::uint64_t count) {
  if (count == 0) return;
  const std::uint64_t lastWord = (first + count - 1) / 64;
  if (m_readBits.size() <= lastWord) m_readBits.resize(lastWord + 1, 0);
  for (std::uint64_t lba = first; lba < first + count; ++lba) {
    std::uint64_t& word = m_readBits[lba / 64];
    const std::uint64_t bit = std::uint64_t{1} << (lba % 64);
    if ((word & bit) == 0) ++m_distinct;
    word |= bit;
  }
}

CommandResult SimulatedDriveTransport::Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                                               unsigned timeoutSeconds) {
  ++m_counters.commands;
  const bool readCd = cdb.size() >= 12 && cdb[0] == scsi::kOpReadCd12;
  std::uint64_t first = 0;
  if (readCd) {
    const ByteReader reader(cdb);
    first = *reader.be32(2);
    ++m_counters.readCdCommands;
    m_counters.sectorsRequested += *reader.be24(6);
  }
  const CommandResult result = m_inner->Execute(cdb, dataIn, timeoutSeconds);
  if (!result.ok) {
    ++m_counters.failedCommands;
    return result;
  }
  m_counters.bytesTransferred += result.transferred;
  if (readCd) {
    const std::uint64_t whole = result.transferred / format::kRawSectorSize;
    m_counters.sectorsRead += whole;
    MarkRead(first, whole);
  }
  return result;
}

}  // namespace kestrow
