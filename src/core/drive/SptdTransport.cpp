#include "drive/SptdTransport.h"

#include <windows.h>
#include <ntddscsi.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

namespace kestrow {
namespace {

// The request block: the pass-through structure, padding, and a sense area
// at offset 48 of which the driver fills up to 14 bytes.
struct PassThroughRequest {
  SCSI_PASS_THROUGH_DIRECT sptd;
  std::uint8_t unused[4];
  std::uint8_t sense[32];
};

constexpr unsigned char kSenseLength = 14;

}  // namespace

SptdTransport::SptdTransport(std::string devicePath)
    : m_devicePath(std::move(devicePath)), m_hDevice(INVALID_HANDLE_VALUE) {}

SptdTransport::~SptdTransport() { Close(); }

std::string SptdTransport::DevicePathForLetter(char letter) {
  return std::string("\\\\.\\") + letter + ":";
}

bool SptdTransport::Open() {
  Close();
  std::wstring wide(m_devicePath.begin(), m_devicePath.end());
  m_hDevice = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  if (m_hDevice == INVALID_HANDLE_VALUE) {
    m_openFailure = "cannot open the drive (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  m_openFailure.clear();
  return true;
}

void SptdTransport::Close() {
  if (m_hDevice != INVALID_HANDLE_VALUE) {
    CloseHandle(m_hDevice);
    m_hDevice = INVALID_HANDLE_VALUE;
  }
}

bool SptdTransport::IsOpen() const { return m_hDevice != INVALID_HANDLE_VALUE; }

CommandResult SptdTransport::Execute(std::span<const std::uint8_t> cdb,
                                     std::span<std::uint8_t> dataIn, unsigned timeoutSeconds) {
  CommandResult result;
  if (!IsOpen() || cdb.empty() || cdb.size() > 16) return result;

  PassThroughRequest request;
  std::memset(&request, 0, sizeof request);
  request.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  request.sptd.CdbLength = static_cast<UCHAR>(cdb.size());
  request.sptd.SenseInfoLength = kSenseLength;
  request.sptd.DataIn = SCSI_IOCTL_DATA_IN;
  request.sptd.DataTransferLength = static_cast<ULONG>(dataIn.size());
  request.sptd.TimeOutValue = timeoutSeconds;
  request.sptd.DataBuffer = dataIn.data();
  request.sptd.SenseInfoOffset = offsetof(PassThroughRequest, sense);
  std::copy(cdb.begin(), cdb.end(), request.sptd.Cdb);

  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(m_hDevice, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                  sizeof request, &request, sizeof request, &returned, nullptr);
  result.sense.key = request.sense[2] & 0x0F;
  result.sense.asc = request.sense[12];
  result.sense.ascq = request.sense[13];
  result.transferred = std::min<std::uint32_t>(request.sptd.DataTransferLength,
                                               static_cast<std::uint32_t>(dataIn.size()));
  result.ok = ok == TRUE && result.transferred > 0;
  return result;
}

}  // namespace kestrow
