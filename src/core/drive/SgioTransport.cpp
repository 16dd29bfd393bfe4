#include "drive/SgioTransport.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kestrow {

SgioTransport::SgioTransport(std::string devicePath) : m_devicePath(std::move(devicePath)) {}

SgioTransport::~SgioTransport() { Close(); }

bool SgioTransport::Open() {
  Close();
  // Read-only and non-blocking: nothing is ever written to the drive, and the
  // open succeeds on an empty tray so that READ CAPACITY can say so.
  m_fd = ::open(m_devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) {
    m_openFailure = std::strerror(errno);
    return false;
  }
  m_openFailure.clear();
  return true;
}

void SgioTransport::Close() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

CommandResult SgioTransport::Execute(std::span<const std::uint8_t> cdb,
                                     std::span<std::uint8_t> dataIn, unsigned timeoutSeconds) {
  CommandResult result;
  if (m_fd < 0 || cdb.empty() || cdb.size() > 16) return result;

  std::array<std::uint8_t, 32> sense{};
  std::array<std::uint8_t, 16> command{};
  std::copy(cdb.begin(), cdb.end(), command.begin());

  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = static_cast<unsigned char>(cdb.size());
  io.cmdp = command.data();
  io.dxfer_len = static_cast<unsigned int>(dataIn.size());
  io.dxferp = dataIn.data();
  io.mx_sb_len = static_cast<unsigned char>(sense.size());
  io.sbp = sense.data();
  io.timeout = timeoutSeconds * 1000u;

  if (::ioctl(m_fd, SG_IO, &io) < 0) return result;

  if (io.sb_len_wr >= 14) {
    result.sense.key = sense[2] & 0x0F;
    result.sense.asc = sense[12];
    result.sense.ascq = sense[13];
  }
  const bool failed = (io.info & SG_INFO_OK_MASK) != SG_INFO_OK;
  const int moved = static_cast<int>(io.dxfer_len) - io.resid;
  // The transfer count is the drive's word; never trust it past the buffer.
  result.transferred = moved > 0 ? std::min<std::uint32_t>(static_cast<std::uint32_t>(moved),
                                                           static_cast<std::uint32_t>(dataIn.size()))
                                 : 0;
  result.ok = !failed && result.transferred > 0;
  return result;
}

}  // namespace kestrow
