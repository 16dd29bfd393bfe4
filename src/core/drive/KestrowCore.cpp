#include "drive/KestrowCore.h"

#include <cstdint>
#include <utility>

#include "drive/ScsiCommands.h"
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
  return scsi::ReadRawSector(*m_pTransport, lba,
                             std::span<std::uint8_t>(buffer, format::kRawSectorSize));
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
