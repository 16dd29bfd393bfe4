// Linux SCSI pass-through (SG_IO) to an optical drive such as /dev/sr0.
#pragma once

#include <string>

#include "drive/Transport.h"

namespace kestrow {

class SgioTransport : public Transport {
 public:
  explicit SgioTransport(std::string devicePath);
  ~SgioTransport() override;

  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return m_fd >= 0; }
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;
  std::string Path() const override { return m_devicePath; }
  std::string OpenFailureDetail() const override { return m_openFailure; }

 private:
  std::string m_devicePath;
  std::string m_openFailure;
  int m_fd = -1;
};

}  // namespace kestrow
