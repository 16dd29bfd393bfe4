#include "KestrowCore.h"

#include <cstdint>
#include <utility>

#include "drive/SourceFactory.h"

namespace kestrow {

CKestrowCore::CKestrowCore(std::string sourcePath, std::string mapfilePath)
    : m_strDevicePath(sourcePath),
      m_pTransport(MakeSourceTransport(std::move(sourcePath), std::move(mapfilePath))),
      m_reader(*m_pTransport) {
  m_reader.SetStopFlags(&m_bStopRequest, nullptr);
}

CKestrowCore::CKestrowCore(std::unique_ptr<Transport> transport)
    : m_strDevicePath(transport->Path()), m_pTransport(std::move(transport)), m_reader(*m_pTransport) {
  m_reader.SetStopFlags(&m_bStopRequest, nullptr);
}

void CKestrowCore::SetInterruptFlag(const std::atomic<bool>* flag) { m_reader.SetStopFlags(&m_bStopRequest, flag); }

CKestrowCore::~CKestrowCore() {
  // A worker that still runs uses this object; it must end before the core goes.
  if (m_hThread.joinable()) m_hThread.join();
  CloseDevice();
}

bool CKestrowCore::OpenDevice() { return m_reader.Open(); }

void CKestrowCore::CloseDevice() { m_reader.Close(); }

bool CKestrowCore::IsDeviceOpen() const { return m_reader.IsOpen(); }

std::int32_t CKestrowCore::ReadCapacity() { return m_reader.ReadCapacity(); }

std::int32_t CKestrowCore::ReadRawSector(std::int32_t lba, std::uint8_t* buffer) {
  return m_reader.ReadRawSector(lba, buffer);
}

std::uint8_t* CKestrowCore::AlignSectorBuffer(std::uint8_t* address) { return kestrow::AlignSectorBuffer(address); }

bool CKestrowCore::ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume) {
  return m_reader.ReadSectorRun(lba, count, consume);
}

bool CKestrowCore::ReadSectorRun(std::int32_t lba, std::int32_t count, const SectorConsumer& consume,
                                 const ReadPolicy& policy, const UnreadableSink& unreadable) {
  return m_reader.ReadSectorRun(lba, count, consume, policy, unreadable);
}

ReadStatistics CKestrowCore::GetReadStatistics() const { return m_reader.GetStatistics(); }

std::set<std::int32_t> CKestrowCore::GetZeroSectors() const { return m_reader.GetZeroSectors(); }

void CKestrowCore::ResetReadStatistics() { m_reader.ResetStatistics(); }

void CKestrowCore::ForgetUnreadableSectors() { m_reader.ForgetUnreadable(); }

std::string CKestrowCore::DescribeLastFailure() const { return m_reader.DescribeLastFailure(); }

std::int32_t CKestrowCore::GetSectorCount() {
  std::int32_t count = -1;
  WithDevice([&] {
    count = m_reader.ReadCapacity();
    return count > 0;
  });
  return count;
}

bool CKestrowCore::Judge(bool ok) {
  if (!ok) m_nErrorState = kErrorReadOrFormat;
  return ok;
}

bool CKestrowCore::WithDevice(const std::function<bool()>& operation) {
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return false;
  }
  const bool ok = operation();
  CloseDevice();
  return Judge(ok);
}

bool CKestrowCore::Judge(DumpResult result) {
  if (result == DumpResult::kCannotOpen) {
    m_nErrorState = kErrorCannotOpen;
    return false;
  }
  return Judge(result == DumpResult::kCompleted);
}

bool CKestrowCore::DumpSectors(const std::string& path, DumpCallbacks& callbacks) {
  return Judge(DumpSectorRange(m_reader, path, callbacks, m_dumpStatistics));
}

bool CKestrowCore::RescueSectors(RescueMap& map, RescueTarget& target, DumpCallbacks& callbacks,
                                 const RescueSettings& settings) {
  return Judge(RescueSectorRange(m_reader, map, target, callbacks, settings, m_rescueStatistics));
}

std::string CKestrowCore::GetOpenFailureDetail() const {
  return m_pTransport->OpenFailureDetail();
}

std::string CKestrowCore::GetStatus() const { return m_strStatus.Text(); }

void CKestrowCore::SetStatus(std::string status) { m_strStatus.SetText(std::move(status)); }

}  // namespace kestrow
