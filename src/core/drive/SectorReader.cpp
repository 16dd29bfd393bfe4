#include "drive/SectorReader.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "drive/CommandJudgement.h"
#include "drive/RawSector.h"
#include "drive/ScsiCommands.h"
#include "drive/SectorBuffer.h"

namespace kestrow {

std::uint8_t* AlignSectorBuffer(std::uint8_t* address) {
  const auto value = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t aligned = (value + 15u) & ~std::uintptr_t{15u};
  return address + (aligned - value);
}

SectorReader::SectorReader(Transport& transport) : m_transport(transport) {}

bool SectorReader::Open() {
  Close();  // never leak a handle left open
  if (m_bDiscChanged) ForgetUnreadable();  // another disc: what this one could not read says nothing
  m_bDiscChanged = false;
  if (!m_transport.Open()) return false;
  m_bSourceCarriesEdc = m_transport.SectorsCarryEdc();
  return true;
}

void SectorReader::Close() {
  if (m_transport.IsOpen()) m_transport.Close();
}

bool SectorReader::IsOpen() const { return m_transport.IsOpen(); }

SectorUse SectorReader::SetSectorUse(SectorUse use) {
  const SectorUse before = m_sectorUse;
  m_sectorUse = use;
  return before;
}

std::optional<bool> SectorReader::KnownUnreadable(std::int32_t lba) const {
  if (lba < 0) return std::nullopt;  // no such sector to know of
  return m_transport.KnownUnreadable(static_cast<std::uint32_t>(lba));
}

std::int32_t SectorReader::ReadCapacity() {
  std::array<std::uint8_t, scsi::kCapacityResultSize> data{};
  const CommandResult result = RunCommand(scsi::BuildReadCapacity10(), data);
  const std::int32_t count = scsi::CapacityOf(result, data);
  if (count <= 0) RecordFailure(result, -1);
  return count;
}

CommandResult SectorReader::RunCommand(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data) {
  CommandResult result;
  if (m_bDiscChanged) {
    // Nothing more is read from a disc that may be another one.
    result.scsiStatus = kScsiStatusCheckCondition;
    result.sense = SenseData{kSenseKeyUnitAttention, kAscMediumMayHaveChanged, 0};
    return result;
  }
  for (int retried = 0;; ++retried) {
    result = m_transport.Execute(cdb, data, scsi::kTimeoutSeconds);
    switch (JudgeUnitAttention(result, retried, m_bAnswered)) {
      case UnitAttentionStep::kSendAgain:
        continue;
      case UnitAttentionStep::kDiscChanged:
        m_bDiscChanged = true;
        return result;
      case UnitAttentionStep::kNone:
        if (result.ok) m_bAnswered = true;
        return result;
      case UnitAttentionStep::kGiveUp:
        return result;
    }
  }
}

std::int32_t SectorReader::ReadRawSector(std::int32_t lba, std::uint8_t* buffer) {
  if (lba < 0) return -1;  // a negative LBA never reaches the drive
  const std::span<std::uint8_t> sector(buffer, format::kRawSectorSize);
  const CommandResult result = RunCommand(scsi::BuildReadCd12(static_cast<std::uint32_t>(lba), 1), sector);
  std::int32_t transferred =
      result.ok ? static_cast<std::int32_t>(std::min<std::uint32_t>(result.transferred, format::kRawSectorSize)) : -1;
  if (transferred == 0) transferred = -1;
  CountReadCd(result, transferred);
  if (transferred <= 0) {
    RecordFailure(result, -1);
  } else if (!AcceptSector(lba, sector.first(static_cast<std::size_t>(transferred)))) {
    transferred = -1;
  }
  if (transferred <= 0) m_failedSingleReads.fetch_add(1, std::memory_order_relaxed);
  return transferred;
}

std::int32_t SectorReader::ReadRawSectors(std::int32_t lba, std::int32_t count, std::uint8_t* buffer) {
  const std::size_t bytes = static_cast<std::size_t>(count) * format::kRawSectorSize;
  const auto cdb = scsi::BuildReadCd12(static_cast<std::uint32_t>(lba), static_cast<std::uint32_t>(count));
  const CommandResult result = RunCommand(cdb, std::span<std::uint8_t>(buffer, bytes));
  // What a failed command left in the buffer is not trusted, nor a count
  // past the buffer.
  const std::size_t transferred = result.ok ? std::min<std::size_t>(result.transferred, bytes) : 0;
  CountReadCd(result, transferred > 0 ? static_cast<std::int32_t>(transferred) : -1);
  if (transferred == 0) RecordFailure(result, -1);
  // The sectors delivered whole, up to the first that fails its check: the
  // caller reads that one (and one delivered in part) again on its own.
  const auto whole = static_cast<std::int32_t>(transferred / format::kRawSectorSize);
  for (std::int32_t i = 0; i < whole; ++i) {
    const auto raw = std::span<std::uint8_t>(buffer + static_cast<std::size_t>(i) * format::kRawSectorSize,
                                             format::kRawSectorSize);
    if (!AcceptSector(lba + i, raw)) return i;
  }
  return whole;
}

void SectorReader::CountReadCd(const CommandResult& result, std::int32_t transferred) {
  m_readCdCommands.fetch_add(1, std::memory_order_relaxed);
  if (transferred <= 0) {
    m_failedReadCds.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (result.recovered) m_recoveredErrors.fetch_add(1, std::memory_order_relaxed);
  m_sectorsRead.fetch_add(static_cast<std::uint64_t>(transferred) / format::kRawSectorSize,
                          std::memory_order_relaxed);
}

bool SectorReader::AcceptSector(std::int32_t lba, std::span<std::uint8_t> raw) {
#if defined(KESTROW_SKIP_SECTOR_CHECK)
  // A benchmark build that measures what the check costs (bench/run.sh).
  static_cast<void>(lba);
  return raw.size() == format::kRawSectorSize;
#else
  SectorVerdict verdict = SectorVerdict::kBad;
  DataSectorVerdict refusal = DataSectorVerdict::kBad;
  if (raw.size() < format::kRawSectorSize) {
    // A sector not delivered whole is never used, not even by a dump.
    refusal = DataSectorVerdict::kShort;
  } else if (m_sectorUse == SectorUse::kWholeSectors) {
    verdict = CheckRawSector(static_cast<std::uint32_t>(lba), raw, ParityUse::kAlsoRewrite);
  } else {
    const DataSectorCheck check = CheckUserDataSector(static_cast<std::uint32_t>(lba), raw, m_bSourceCarriesEdc);
    refusal = check.verdict;
    verdict = check.verdict == DataSectorVerdict::kData ? check.check : SectorVerdict::kBad;
  }
  switch (verdict) {
    case SectorVerdict::kGood:
    case SectorVerdict::kAsItComes:
      return true;
    case SectorVerdict::kRepaired:
      m_repairedSectors.fetch_add(1, std::memory_order_relaxed);
      return true;
    case SectorVerdict::kNoEdc:
      m_zeroEdcSectors.fetch_add(1, std::memory_order_relaxed);
      return true;
    case SectorVerdict::kBad:
      break;
  }
  if (refusal == DataSectorVerdict::kBad) {
    m_unrepairableSectors.fetch_add(1, std::memory_order_relaxed);
  } else {
    m_refusedSectors.fetch_add(1, std::memory_order_relaxed);
  }
  if (refusal == DataSectorVerdict::kAllZero) {
    std::lock_guard<std::mutex> lock(m_failureLock);
    m_zeroSectors.insert(lba);
  }
  RecordFailure(CommandResult{}, lba, refusal);
  return false;
#endif
}

void SectorReader::RecordFailure(const CommandResult& result, std::int32_t badSector, DataSectorVerdict why) {
  std::lock_guard<std::mutex> lock(m_failureLock);
  m_lastFailure = result;
  m_lastBadSector = badSector;
  m_lastBadVerdict = why;
}

namespace {

// Why sector `lba` was not taken, for a person diagnosing a disc.
std::string DescribeRefusedSector(std::int32_t lba, DataSectorVerdict why) {
  const std::string sector = "sector " + std::to_string(lba);
  switch (why) {
    case DataSectorVerdict::kShort:
      return sector + " was not delivered whole (the drive moved fewer bytes than asked)";
    case DataSectorVerdict::kAllZero:
      return sector + " holds no data (all zeros)";
    case DataSectorVerdict::kNotData:
      return sector + " is not a data sector of this address (audio, Mode 2 Form 2, or another sector)";
    case DataSectorVerdict::kNoEdcHere:
      return sector + " has no EDC, unlike the source's other sectors";
    case DataSectorVerdict::kData:
    case DataSectorVerdict::kBad:
      break;
  }
  return sector + " came back damaged (its EDC does not match) and its parity cannot mend it";
}

}  // namespace

std::string SectorReader::DescribeLastFailure() const {
  std::string cause;
  {
    std::lock_guard<std::mutex> lock(m_failureLock);
    if (m_lastBadSector >= 0) {
      cause = DescribeRefusedSector(m_lastBadSector, m_lastBadVerdict);
    } else {
      cause = DescribeCommandFailure(m_lastFailure);
    }
  }
  const std::string note = m_transport.FailureNote();
  if (note.empty()) return cause;
  return cause.empty() ? note : cause + "; " + note;
}

bool SectorReader::ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume) {
  return ReadSectorRun(lba, count, consume, ReadPolicy{}, UnreadableSink{});
}

bool SectorReader::ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume,
                                 const ReadPolicy& policy, const UnreadableSink& unreadable) {
  if (count <= 0) return true;
  if (lba < 0 || std::int64_t{lba} + count - 1 > std::numeric_limits<std::int32_t>::max()) return false;
  std::vector<std::uint8_t> storage(static_cast<std::size_t>(kSectorsPerReadCd) * format::kRawSectorSize + 16);
  std::uint8_t* chunk = AlignSectorBuffer(storage.data());
  SectorBuffer single;
  const std::int32_t attempts = 1 + std::max(policy.retries, 0);
  bool everySector = true;
  std::int32_t next = lba;
  std::int32_t remaining = count;
  while (remaining > 0) {
    std::int32_t n = std::min(remaining, kSectorsPerReadCd);
    // A sector that stayed unreadable earlier in the job is not sent to the
    // drive again (every failing read costs seconds and wears the disc):
    // runs are split around it.
    const std::int32_t known = FirstGivenUp(next, n);
    if (known == next) {
      if (unreadable) unreadable(next);
      if (!policy.keepGoing) return false;
      everySector = false;
      --remaining;
      if (remaining > 0) ++next;
      continue;
    }
    if (known > next) n = known - next;
    // One sector alone is read as the single-sector code reads it.
    if (Stopped()) return false;  // nothing more is read, nothing is called unreadable
    const std::int32_t whole = n > 1 ? ReadRawSectors(next, n, chunk) : 0;
    if (m_bDiscChanged) return false;  // nothing of another disc is handed over
    std::int32_t i = 0;
    for (; i < whole; ++i) {
      const auto raw = std::span<const std::uint8_t>(chunk + static_cast<std::size_t>(i) * format::kRawSectorSize,
                                                     format::kRawSectorSize);
      if (consume(next + i, raw)) continue;
      if (!policy.keepGoing) return false;
      break;  // read again on its own below
    }
    // Around a failure or a short transfer: one sector per command, so the
    // failing sector and what its read delivered are found exactly.
    for (; i < n; ++i) {
      bool read = false;
      for (std::int32_t attempt = 0; attempt < attempts && !read; ++attempt) {
        if (Stopped()) return false;
        const std::int32_t transferred = ReadRawSector(next + i, single.data());
        // A sector of a disc that may be another is neither data nor unreadable.
        if (m_bDiscChanged) return false;
        if (transferred <= 0) continue;
        const auto raw = std::span<const std::uint8_t>(single.data(), static_cast<std::size_t>(transferred));
        read = consume(next + i, raw);
        if (!read && !policy.keepGoing) return false;  // the consumer ended the run
      }
      if (read) continue;
      m_sectorsGivenUp.fetch_add(1, std::memory_order_relaxed);
      RememberGivenUp(next + i);
      if (unreadable) unreadable(next + i);
      if (!policy.keepGoing) return false;
      everySector = false;
    }
    remaining -= n;
    if (remaining > 0) next += n;
  }
  return everySector;
}

void SectorReader::SetStopFlags(const std::atomic<bool>* job, const std::atomic<bool>* face) {
  m_stopFlags = {job, face};
}

bool SectorReader::Stopped() const {
  return std::any_of(m_stopFlags.begin(), m_stopFlags.end(), [](const std::atomic<bool>* flag) {
    return flag && flag->load(std::memory_order_relaxed);
  });
}

std::int32_t SectorReader::FirstGivenUp(std::int32_t lba, std::int32_t count) const {
  std::lock_guard<std::mutex> lock(m_failureLock);
  const auto at = m_givenUp.lower_bound(lba);
  if (at == m_givenUp.end() || std::int64_t{*at} >= std::int64_t{lba} + count) return -1;
  return *at;
}

void SectorReader::RememberGivenUp(std::int32_t lba) {
  std::lock_guard<std::mutex> lock(m_failureLock);
  m_givenUp.insert(lba);
}

void SectorReader::ForgetUnreadable() {
  std::lock_guard<std::mutex> lock(m_failureLock);
  m_givenUp.clear();
}

std::set<std::int32_t> SectorReader::GivenUpSectors() const {
  std::lock_guard<std::mutex> lock(m_failureLock);
  return m_givenUp;
}

ReadStatistics SectorReader::GetStatistics() const {
  ReadStatistics stats;
  stats.readCdCommands = m_readCdCommands.load(std::memory_order_relaxed);
  stats.sectorsRead = m_sectorsRead.load(std::memory_order_relaxed);
  stats.failedCommands = m_failedReadCds.load(std::memory_order_relaxed);
  stats.sectorsGivenUp = m_sectorsGivenUp.load(std::memory_order_relaxed);
  stats.repairedSectors = m_repairedSectors.load(std::memory_order_relaxed);
  stats.unrepairableSectors = m_unrepairableSectors.load(std::memory_order_relaxed);
  stats.zeroEdcSectors = m_zeroEdcSectors.load(std::memory_order_relaxed);
  stats.recoveredErrors = m_recoveredErrors.load(std::memory_order_relaxed);
  stats.failedSingleReads = m_failedSingleReads.load(std::memory_order_relaxed);
  stats.refusedSectors = m_refusedSectors.load(std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(m_failureLock);
  stats.zeroSectors = m_zeroSectors.size();
  return stats;
}

std::set<std::int32_t> SectorReader::GetZeroSectors() const {
  std::lock_guard<std::mutex> lock(m_failureLock);
  return m_zeroSectors;
}

void SectorReader::ResetStatistics() {
  m_readCdCommands = 0;
  m_sectorsRead = 0;
  m_failedReadCds = 0;
  m_sectorsGivenUp = 0;
  m_repairedSectors = 0;
  m_unrepairableSectors = 0;
  m_zeroEdcSectors = 0;
  m_recoveredErrors = 0;
  m_failedSingleReads = 0;
  m_refusedSectors = 0;
  std::lock_guard<std::mutex> lock(m_failureLock);
  m_zeroSectors.clear();
}

}  // namespace kestrow
