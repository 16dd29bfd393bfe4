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

#include "drive/CommandJudgement.h"

namespace kestrow {
namespace {

// SG_IO's host and driver bytes (the kernel's DID_TIME_OUT, DRIVER_TIMEOUT, DRIVER_SENSE).
constexpr unsigned kHostTimedOut = 0x03;
constexpr unsigned kDriverTimedOut = 0x06;
constexpr unsigned kDriverSense = 0x08;

}  // namespace

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
  if (m_fd < 0 || cdb.empty() || cdb.size() > 16) return CommandResult{};

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

  PassThroughReport report;
  report.requested = static_cast<std::uint32_t>(dataIn.size());
  if (::ioctl(m_fd, SG_IO, &io) < 0) {
    report.systemError = errno;
    return JudgeCommand(report);
  }
  // The host adapter and the driver must have carried the command; the
  // driver's "sense data follows" is no failure of theirs.
  const unsigned driverByte = io.driver_status & 0x0Fu;
  report.timedOut = io.host_status == kHostTimedOut || driverByte == kDriverTimedOut;
  report.delivered = io.host_status == 0 && (driverByte == 0 || driverByte == kDriverSense);
  report.scsiStatus = static_cast<std::uint8_t>(io.status & 0xFEu);
  report.sense = std::span<const std::uint8_t>(sense.data(), std::min<std::size_t>(io.sb_len_wr, sense.size()));
  const int moved = static_cast<int>(io.dxfer_len) - io.resid;
  report.transferred = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
  return JudgeCommand(report);
}

}  // namespace kestrow
