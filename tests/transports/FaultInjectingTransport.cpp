#include "FaultInjectingTransport.h"

#include <algorithm>
#include <array>
#include <utility>

#include "drive/CommandJudgement.h"
#include "drive/ScsiCommands.h"
#include "text/ByteReader.h"
#include "drive/RawSector.h"

namespace kestrow {
namespace {

constexpr SenseData kMediumError{0x03, 0x11, 0x00};  // unrecovered read error
constexpr SenseData kRecoveredWithEcc{0x01, 0x18, 0x00};  // recovered data with error correction applied
constexpr std::uint32_t kShortRecoveredBytes = 1000;     // of the sector with a short RECOVERED ERROR
constexpr const char* kInjectedOpenFailure = "injected open failure";

CommandResult CheckCondition(SenseData sense) {
  CommandResult result;
  result.sense = sense;
  result.scsiStatus = kScsiStatusCheckCondition;
  return result;
}

// Fixed-format sense data as a drive returns it.
std::array<std::uint8_t, 18> SenseBytes(SenseData sense) {
  std::array<std::uint8_t, 18> bytes{};
  bytes[0] = 0x70;
  bytes[2] = sense.key;
  bytes[7] = 10;  // additional sense length
  bytes[12] = sense.asc;
  bytes[13] = sense.ascq;
  return bytes;
}

}  // namespace

FaultInjectingTransport::FaultInjectingTransport(std::unique_ptr<Transport> inner)
    : m_inner(std::move(inner)) {}

void FaultInjectingTransport::ClearFaults() {
  m_failOpen = false;
  m_failCapacity = false;
  m_capacityEmpty = false;
  m_lastLba.reset();
  m_failingLbas.clear();
  m_shortLbas.clear();
  m_flakyLbas.clear();
  m_recoveredLbas.clear();
  m_attentionLbas.clear();
  m_nextDisc.reset();
  m_capacitySense.reset();
  m_capacityError = 0;
}

bool FaultInjectingTransport::Open() {
  ++m_counters.opens;
  m_openInjectedFailure = m_failOpen;
  if (m_failOpen) {
    m_inner->Close();
    return false;
  }
  return m_inner->Open();
}

void FaultInjectingTransport::Close() {
  ++m_counters.closes;
  m_inner->Close();
}

std::string FaultInjectingTransport::OpenFailureDetail() const {
  return m_openInjectedFailure ? kInjectedOpenFailure : m_inner->OpenFailureDetail();
}

void FaultInjectingTransport::SwapDiscAfter(unsigned commands, std::unique_ptr<Transport> other) {
  m_nextDisc = std::move(other);
  m_swapAfter = commands;
}

CommandResult FaultInjectingTransport::Execute(std::span<const std::uint8_t> cdb,
                                               std::span<std::uint8_t> dataIn,
                                               unsigned timeoutSeconds) {
  ++m_counters.commands;
  if (m_nextDisc && m_counters.commands > m_swapAfter) {
    // The tray opened and closed: the other disc is in, and the drive says so once.
    const bool open = m_inner->IsOpen();
    m_inner->Close();
    m_inner = std::move(m_nextDisc);
    if (open) m_inner->Open();
    return CheckCondition(SenseData{kSenseKeyUnitAttention, kAscMediumMayHaveChanged, 0});
  }
  if (!cdb.empty() && cdb[0] == scsi::kOpReadCapacity10) return ReadCapacity(cdb, dataIn, timeoutSeconds);
  if (cdb.size() >= 12 && cdb[0] == scsi::kOpReadCd12) {
    CommandResult result = ReadCd(cdb, dataIn, timeoutSeconds);
    if (m_readCdHook) {
      const ByteReader reader(cdb);
      m_readCdHook(*reader.be32(2), *reader.be24(6), !result.ok);
    }
    return result;
  }
  return m_inner->Execute(cdb, dataIn, timeoutSeconds);
}

CommandResult FaultInjectingTransport::ReadCapacity(std::span<const std::uint8_t> cdb,
                                                    std::span<std::uint8_t> dataIn,
                                                    unsigned timeoutSeconds) {
  if (m_failCapacity) return CheckCondition(kMediumError);
  if (m_capacitySense) return CheckCondition(*m_capacitySense);
  if (m_capacityError != 0) {
    CommandResult result;
    result.systemError = m_capacityError;
    return result;
  }
  if (m_capacityEmpty) {
    CommandResult result;
    result.ok = true;
    return result;
  }
  CommandResult result = m_inner->Execute(cdb, dataIn, timeoutSeconds);
  if (result.ok && m_lastLba && dataIn.size() >= 4) PutBe32(dataIn.data(), *m_lastLba);
  return result;
}

CommandResult FaultInjectingTransport::ReadCd(std::span<const std::uint8_t> cdb,
                                              std::span<std::uint8_t> dataIn,
                                              unsigned timeoutSeconds) {
  const ByteReader reader(cdb);
  const std::uint64_t first = *reader.be32(2);
  const std::uint64_t count = *reader.be24(6);
  ++m_counters.readCdCommands;
  m_counters.sectorsRequested += count;
  const auto failing = m_failingLbas.lower_bound(static_cast<std::uint32_t>(first));
  if (failing != m_failingLbas.end() && *failing < first + count) {
    return CheckCondition(kMediumError);
  }
  const auto attention = m_attentionLbas.lower_bound(static_cast<std::uint32_t>(first));
  if (attention != m_attentionLbas.end() && attention->first < first + count && attention->second.times > 0) {
    --attention->second.times;
    return CheckCondition(SenseData{kSenseKeyUnitAttention, attention->second.asc, 0});
  }
  const auto flaky = m_flakyLbas.lower_bound(static_cast<std::uint32_t>(first));
  if (flaky != m_flakyLbas.end() && flaky->first < first + count && flaky->second > 0) {
    if (count == 1) --flaky->second;
    return CommandResult{false, 0, kMediumError};
  }
  CommandResult result = m_inner->Execute(cdb, dataIn, timeoutSeconds);
  const auto recovered = m_recoveredLbas.lower_bound(static_cast<std::uint32_t>(first));
  if (result.ok && recovered != m_recoveredLbas.end() && recovered->first < first + count) {
    const auto sense = SenseBytes(kRecoveredWithEcc);
    PassThroughReport report;
    report.delivered = true;
    report.scsiStatus = kScsiStatusCheckCondition;
    report.sense = sense;
    report.requested = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataIn.size(), count * format::kRawSectorSize));
    report.transferred = recovered->second ? result.transferred
                                           : static_cast<std::uint32_t>((recovered->first - first) * format::kRawSectorSize +
                                                                        kShortRecoveredBytes);
    if (report.transferred < result.transferred) {
      std::fill(dataIn.begin() + static_cast<std::ptrdiff_t>(report.transferred),
                dataIn.begin() + static_cast<std::ptrdiff_t>(result.transferred), kUndeliveredByte);
    }
    return JudgeCommand(report);
  }
  const auto shortened = m_shortLbas.lower_bound(static_cast<std::uint32_t>(first));
  if (!result.ok || shortened == m_shortLbas.end() || shortened->first >= first + count) return result;
  const std::uint64_t delivered =
      (shortened->first - first) * format::kRawSectorSize +
      std::min<std::uint64_t>(shortened->second, format::kRawSectorSize);
  if (delivered < result.transferred) {
    std::fill(dataIn.begin() + static_cast<std::ptrdiff_t>(delivered),
              dataIn.begin() + static_cast<std::ptrdiff_t>(result.transferred), kUndeliveredByte);
    result.transferred = static_cast<std::uint32_t>(delivered);
  }
  return result;
}

}  // namespace kestrow
