// The request block of a Windows SCSI pass-through command
// (IOCTL_SCSI_PASS_THROUGH_DIRECT), built and judged apart from the device
// so that both can be checked without a drive. Windows only.
#pragma once

#include <windows.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "drive/CommandJudgement.h"
#include "drive/Transport.h"

namespace kestrow {

// The driver's published structure: 44 bytes for 32-bit programs, 56 for
// 64-bit ones (the data pointer and its alignment grow).
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == (sizeof(void*) == 8 ? 56 : 44),
              "SCSI_PASS_THROUGH_DIRECT has the size the driver expects");

// The structure, then the sense area the driver fills (the filler keeps the
// sense area on a 4-byte boundary after the 32-bit structure, as there).
struct SptdRequest {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;
  UCHAR sense[32];
};

inline constexpr unsigned char kSptdSenseLength = 14;  // through the ASC and ASCQ

// A zero-filled request for one command: data in to `data` (`dataLength`
// bytes), or no data at all when `dataLength` is 0 (TEST UNIT READY).
SptdRequest BuildSptdRequest(std::span<const std::uint8_t> cdb, void* data, std::uint32_t dataLength,
                             unsigned timeoutSeconds);

// The outcome of a request the driver handed back, judged as every
// platform's commands are (JudgeCommand): carried out only when
// DeviceIoControl succeeded (`systemError` is GetLastError's code when it
// did not) and the status is GOOD, or CHECK CONDITION with a RECOVERED ERROR
// and every requested byte; a failed command hands over no bytes. Sense key,
// ASC and ASCQ are kept for diagnosis.
CommandResult JudgeSptdRequest(const SptdRequest& request, bool ioctlSucceeded, std::uint32_t requested,
                               unsigned long systemError = 0);

}  // namespace kestrow
