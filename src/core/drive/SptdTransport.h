// Windows SCSI pass-through (IOCTL_SCSI_PASS_THROUGH_DIRECT) to an optical
// drive opened by its device path "\\.\E:". Compiled only on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/Transport.h"

namespace kestrow {

class SptdTransport : public Transport {
 public:
  explicit SptdTransport(std::string devicePath);
  ~SptdTransport() override;
  SptdTransport(const SptdTransport&) = delete;
  SptdTransport& operator=(const SptdTransport&) = delete;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override;
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;
  std::string Path() const override { return m_devicePath; }
  std::string OpenFailureDetail() const override { return m_openFailure; }

  // The device path of a drive letter: "\\.\E:".
  static std::string DevicePathForLetter(char letter);

  // The logical drives whose type is CD-ROM, as "E:", in letter order.
  static std::vector<std::string> ListCdRomDrives();

 private:
  // A page-aligned buffer of at least `size` bytes that the drive reads
  // into: any adapter's alignment is met, whatever buffer the caller has.
  std::uint8_t* DataBuffer(std::size_t size);

  std::string m_devicePath;
  std::string m_openFailure;
  void* m_hDevice;  // HANDLE; INVALID_HANDLE_VALUE when closed
  std::uint8_t* m_buffer = nullptr;
  std::size_t m_bufferSize = 0;
};

}  // namespace kestrow
