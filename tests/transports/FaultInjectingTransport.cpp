#include "FaultInjectingTransport.h"

#include <algorithm>
#include <utility>

#include "drive/ScsiCommands.h"
#include "text/ByteReader.h"
#include "drive/RawSector.h"

namespace kestrow {
namespace {

constexpr SenseData kMediumError{0x03, 0x11, 0x00};  // unrecovered read error
constexpr const char* kInjectedOpenFailure = "injected open failure";

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

CommandResult FaultInjectingTransport::Execute(std::span<const std::uint8_t> cdb,
                                               std::span<std::uint8_t> dataIn,
                                               unsigned timeoutSeconds) {
  ++m_counters.commands;
  if (!cdb.empty() && cdb[0] == scsi::kOpReadCapacity10) return ReadCapacity(cdb, dataIn, timeoutSeconds);
  if (cdb.size() >= 12 && cdb[0] == scsi::kOpReadCd12) return ReadCd(cdb, dataIn, timeoutSeconds);
  return m_inner->Execute(cdb, dataIn, timeoutSeconds);
}

CommandResult FaultInjectingTransport::ReadCapacity(std::span<const std::uint8_t> cdb,
                                                    std::span<std::uint8_t> dataIn,
                                                    unsigned timeoutSeconds) {
  if (m_failCapacity) return CommandResult{false, 0, kMediumError};
  if (m_capacityEmpty) return CommandResult{true, 0, {}};
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
    return CommandResult{false, 0, kMediumError};
  }
  const auto flaky = m_flakyLbas.lower_bound(static_cast<std::uint32_t>(first));
  if (flaky != m_flakyLbas.end() && flaky->first < first + count && flaky->second > 0) {
    if (count == 1) --flaky->second;
    return CommandResult{false, 0, kMediumError};
  }
  CommandResult result = m_inner->Execute(cdb, dataIn, timeoutSeconds);
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
