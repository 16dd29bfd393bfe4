// The request block of a Windows SCSI pass-through command
// (IOCTL_SCSI_PASS_THROUGH_DIRECT), built and judged apart from the device
// so that both can be checked without a drive. Windows only.
#pragma once

#include <windows.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstdint>
#include <span>

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
inline constexpr unsigned char kScsiStatusGood = 0x00;
inline constexpr unsigned char kScsiStatusCheckCondition = 0x02;
inline constexpr unsigned char kSenseKeyRecoveredError = 0x01;

// A zero-filled request for one command: data in to `data` (`dataLength`
// bytes), or no data at all when `dataLength` is 0 (TEST UNIT READY).
SptdRequest BuildSptdRequest(std::span<const std::uint8_t> cdb, void* data, std::uint32_t dataLength,
                             unsigned timeoutSeconds);

// The outcome of a request the driver handed back: carried out only when
// DeviceIoControl succeeded, the status is GOOD (or CHECK CONDITION with a
// RECOVERED ERROR: the drive corrected the data) and every requested byte
// came; a short transfer is a failure, so no caller reads bytes the drive
// never sent. Sense key, ASC and ASCQ are kept for diagnosis.
CommandResult JudgeSptdRequest(const SptdRequest& request, bool ioctlSucceeded, std::uint32_t requested);

}  // namespace kestrow
