#include "KestrowCore.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "drive/ScsiCommands.h"
#include "SectorBuffer.h"
#include "drive/SourceFactory.h"
#include "volume/PackedFormat.h"

namespace kestrow {

CKestrowCore::CKestrowCore(std::string sourcePath, std::string mapfilePath)
    : m_strDevicePath(sourcePath),
      m_pTransport(MakeSourceTransport(std::move(sourcePath), std::move(mapfilePath))) {}

CKestrowCore::CKestrowCore(std::unique_ptr<Transport> transport)
    : m_strDevicePath(transport->Path()), m_pTransport(std::move(transport)) {}

CKestrowCore::~CKestrowCore() {
  // A worker that still runs uses this object; it must end before the core goes.
  if (m_hThread.joinable()) m_hThread.join();
  CloseDevice();
}

bool CKestrowCore::OpenDevice() {
  CloseDevice();  // never leak a handle left open
  return m_pTransport->Open();
}

void CKestrowCore::CloseDevice() {
  if (m_pTransport->IsOpen()) m_pTransport->Close();
}

bool CKestrowCore::IsDeviceOpen() const { return m_pTransport->IsOpen(); }

std::int32_t CKestrowCore::ReadCapacity() { return scsi::ReadCapacity(*m_pTransport); }

std::int32_t CKestrowCore::ReadRawSector(std::int32_t lba, std::uint8_t* buffer) {
  const std::int32_t transferred =
      scsi::ReadRawSector(*m_pTransport, lba, std::span<std::uint8_t>(buffer, format::kRawSectorSize));
  if (lba >= 0) CountReadCd(transferred);  // a negative LBA never reaches the drive
  return transferred;
}

std::int32_t CKestrowCore::ReadRawSectors(std::int32_t lba, std::int32_t count, std::uint8_t* buffer) {
  const std::size_t bytes = static_cast<std::size_t>(count) * format::kRawSectorSize;
  const auto cdb = scsi::BuildReadCd12(static_cast<std::uint32_t>(lba), static_cast<std::uint32_t>(count));
  const CommandResult result =
      m_pTransport->Execute(cdb, std::span<std::uint8_t>(buffer, bytes), scsi::kTimeoutSeconds);
  // What a failed command left in the buffer is not trusted, nor a count
  // past the buffer.
  const std::size_t transferred = result.ok ? std::min<std::size_t>(result.transferred, bytes) : 0;
  CountReadCd(transferred > 0 ? static_cast<std::int32_t>(transferred) : -1);
  return static_cast<std::int32_t>(transferred / format::kRawSectorSize);
}

void CKestrowCore::CountReadCd(std::int32_t transferred) {
  m_readCdCommands.fetch_add(1, std::memory_order_relaxed);
  if (transferred <= 0) {
    m_failedReadCds.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  m_sectorsRead.fetch_add(static_cast<std::uint64_t>(transferred) / format::kRawSectorSize,
                          std::memory_order_relaxed);
}

bool CKestrowCore::ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume) {
  return ReadSectorRun(lba, count, consume, ReadPolicy{}, UnreadableSink{});
}

bool CKestrowCore::ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume,
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
    const std::int32_t n = std::min(remaining, kSectorsPerReadCd);
    // One sector alone is read as the single-sector code reads it.
    const std::int32_t whole = n > 1 ? ReadRawSectors(next, n, chunk) : 0;
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
        const std::int32_t transferred = ReadRawSector(next + i, single.data());
        if (transferred <= 0) continue;
        const auto raw = std::span<const std::uint8_t>(single.data(), static_cast<std::size_t>(transferred));
        read = consume(next + i, raw);
        if (!read && !policy.keepGoing) return false;  // the consumer ended the run
      }
      if (read) continue;
      m_sectorsGivenUp.fetch_add(1, std::memory_order_relaxed);
      if (unreadable) unreadable(next + i);
      if (!policy.keepGoing) return false;
      everySector = false;
    }
    remaining -= n;
    if (remaining > 0) next += n;
  }
  return everySector;
}

ReadStatistics CKestrowCore::GetReadStatistics() const {
  ReadStatistics stats;
  stats.readCdCommands = m_readCdCommands.load(std::memory_order_relaxed);
  stats.sectorsRead = m_sectorsRead.load(std::memory_order_relaxed);
  stats.failedCommands = m_failedReadCds.load(std::memory_order_relaxed);
  stats.sectorsGivenUp = m_sectorsGivenUp.load(std::memory_order_relaxed);
  return stats;
}

void CKestrowCore::ResetReadStatistics() {
  m_readCdCommands = 0;
  m_sectorsRead = 0;
  m_failedReadCds = 0;
  m_sectorsGivenUp = 0;
}

std::int32_t CKestrowCore::GetSectorCount() {
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return -1;
  }
  const std::int32_t count = ReadCapacity();
  if (count <= 0) m_nErrorState = kErrorReadOrFormat;
  CloseDevice();
  return count;
}

std::int32_t CKestrowCore::OpenAndReadCapacity() {
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return -1;
  }
  const std::int32_t count = ReadCapacity();
  if (count <= 0) {
    CloseDevice();
    m_nErrorState = kErrorReadOrFormat;
  }
  return count;
}

std::uint8_t* CKestrowCore::AlignSectorBuffer(std::uint8_t* address) {
  const auto value = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t aligned = (value + 15u) & ~std::uintptr_t{15u};
  return address + (aligned - value);
}

std::string CKestrowCore::GetOpenFailureDetail() const {
  return m_pTransport->OpenFailureDetail();
}

std::string CKestrowCore::GetStatus() const {
  std::lock_guard<std::mutex> lock(m_statusLock);
  return m_strStatus;
}

void CKestrowCore::SetStatus(std::string status) {
  std::lock_guard<std::mutex> lock(m_statusLock);
  m_strStatus = std::move(status);
}

}  // namespace kestrow
