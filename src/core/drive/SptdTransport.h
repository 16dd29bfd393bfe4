// Windows SCSI pass-through (IOCTL_SCSI_PASS_THROUGH_DIRECT) to an optical
// drive opened by its device path "\\.\E:". Compiled only on Windows.
#pragma once

#include <string>

#include "drive/Transport.h"

namespace kestrow {

class SptdTransport : public Transport {
 public:
  explicit SptdTransport(std::string devicePath);
  ~SptdTransport() override;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override;
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;
  std::string Path() const override { return m_devicePath; }
  std::string OpenFailureDetail() const override { return m_openFailure; }

  // The device path of a drive letter: "\\.\E:".
  static std::string DevicePathForLetter(char letter);

 private:
  std::string m_devicePath;
  std::string m_openFailure;
  void* m_hDevice;  // HANDLE; INVALID_HANDLE_VALUE when closed
};

}  // namespace kestrow
