#include "drive/SptdTransport.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "drive/DriveLetter.h"
#include "drive/SptdRequest.h"
#include "platform/FileSystem.h"
#include "platform/Utf16.h"

namespace kestrow {

SptdRequest BuildSptdRequest(std::span<const std::uint8_t> cdb, void* data, std::uint32_t dataLength,
                             unsigned timeoutSeconds) {
  SptdRequest request;
  std::memset(&request, 0, sizeof request);
  SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
  sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  sptd.CdbLength = static_cast<UCHAR>(std::min<std::size_t>(cdb.size(), sizeof sptd.Cdb));
  sptd.SenseInfoLength = kSptdSenseLength;
  sptd.DataIn = dataLength > 0 ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED;
  sptd.DataTransferLength = dataLength;
  sptd.TimeOutValue = timeoutSeconds;
  sptd.DataBuffer = dataLength > 0 ? data : nullptr;
  sptd.SenseInfoOffset = offsetof(SptdRequest, sense);
  std::copy_n(cdb.begin(), sptd.CdbLength, sptd.Cdb);
  return request;
}

CommandResult JudgeSptdRequest(const SptdRequest& request, bool ioctlSucceeded, std::uint32_t requested,
                               unsigned long systemError) {
  const SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
  PassThroughReport report;
  report.delivered = ioctlSucceeded;
  report.systemError = static_cast<int>(systemError);
  report.scsiStatus = sptd.ScsiStatus;
  report.sense = std::span<const std::uint8_t>(request.sense, std::min<std::size_t>(sptd.SenseInfoLength, sizeof request.sense));
  report.requested = requested;
  report.transferred = sptd.DataTransferLength;
  return JudgeCommand(report);
}

SptdTransport::SptdTransport(std::string devicePath)
    : m_devicePath(std::move(devicePath)), m_hDevice(INVALID_HANDLE_VALUE) {}

SptdTransport::~SptdTransport() {
  Close();
  if (m_buffer != nullptr) VirtualFree(m_buffer, 0, MEM_RELEASE);
}

std::string SptdTransport::DevicePathForLetter(char letter) {
  return std::string("\\\\.\\") + letter + ":";
}

std::vector<std::string> SptdTransport::ListCdRomDrives() {
  std::vector<std::string> drives;
  const DWORD present = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((present & (DWORD{1} << i)) == 0) continue;
    const wchar_t root[] = {static_cast<wchar_t>(L'A' + i), L':', L'\\', L'\0'};
    if (GetDriveTypeW(root) == DRIVE_CDROM) drives.push_back(std::string(1, static_cast<char>('A' + i)) + ":");
  }
  return drives;
}

bool SptdTransport::Open() {
  Close();
  // Commands go to optical drives only, never to a hard disk named by its letter.
  if (const auto letter = DriveLetterOfSource(m_devicePath)) {
    const wchar_t root[] = {static_cast<wchar_t>(*letter), L':', L'\\', L'\0'};
    const UINT type = GetDriveTypeW(root);
    if (type != DRIVE_CDROM) {
      m_openFailure = type == DRIVE_NO_ROOT_DIR ? "there is no such drive" : "not a CD-ROM drive";
      return false;
    }
  }
  const std::u16string path = Utf8ToUtf16(m_devicePath);
  // Pass-through needs read and write access to the device.
  m_hDevice = CreateFileW(std::wstring(path.begin(), path.end()).c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (m_hDevice == INVALID_HANDLE_VALUE) {
    m_openFailure = WindowsErrorText(GetLastError());
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

std::uint8_t* SptdTransport::DataBuffer(std::size_t size) {
  if (size > m_bufferSize) {
    if (m_buffer != nullptr) VirtualFree(m_buffer, 0, MEM_RELEASE);
    m_buffer = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    m_bufferSize = m_buffer != nullptr ? size : 0;
  }
  return m_buffer;
}

CommandResult SptdTransport::Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                                     unsigned timeoutSeconds) {
  if (!IsOpen() || cdb.empty() || cdb.size() > 16 || dataIn.size() > 0xFFFFFFFFu) return {};
  const auto requested = static_cast<std::uint32_t>(dataIn.size());
  std::uint8_t* buffer = nullptr;
  if (requested > 0) {
    buffer = DataBuffer(requested);
    if (buffer == nullptr) return {};
    // Bytes of an earlier command must never pass for this one's.
    std::memset(buffer, 0, requested);
  }
  SptdRequest request = BuildSptdRequest(cdb, buffer, requested, timeoutSeconds);
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(m_hDevice, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                                  sizeof request, &returned, nullptr);
  const CommandResult result = JudgeSptdRequest(request, ok != FALSE, requested, ok != FALSE ? 0 : GetLastError());
  if (result.ok && result.transferred > 0) std::copy_n(buffer, result.transferred, dataIn.begin());
  return result;
}

}  // namespace kestrow
