// How a command that went to a drive ended, judged the same way by every
// platform's pass-through transport (SG_IO, SPTD) and explained in words
// for a person diagnosing a disc.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "drive/Transport.h"

namespace kestrow {

inline constexpr std::uint8_t kScsiStatusGood = 0x00;
inline constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kSenseKeyRecoveredError = 0x01;

// What the transport saw of one command.
struct PassThroughReport {
  bool delivered = false;               // the system carried the request to the drive and back
  int systemError = 0;                  // errno / GetLastError when it did not
  bool timedOut = false;                // the time-out ran out
  std::uint8_t scsiStatus = 0;          // the drive's status byte
  std::span<const std::uint8_t> sense;  // the sense bytes the drive returned, if any
  std::uint32_t requested = 0;          // bytes asked for
  std::uint32_t transferred = 0;        // bytes the system says came back
};

// The one judgement of a command: it succeeded when it was delivered, moved
// at least one byte (when it asked for any), and the drive said GOOD, or said CHECK CONDITION with
// a RECOVERED ERROR (it corrected the data itself) and delivered every byte
// asked for (counted through `recovered`). Any other CHECK CONDITION or
// status, and a RECOVERED ERROR with a short transfer, is a failure that
// hands over no bytes, so what a failed read left in the buffer is never
// used. A GOOD status with a short transfer succeeds with what came back.
CommandResult JudgeCommand(const PassThroughReport& report);

// Key, ASC and ASCQ of fixed (0x70, 0x71) or descriptor (0x72, 0x73) sense
// data; all zero when there is none to read.
SenseData ParseSense(std::span<const std::uint8_t> sense);

// "not ready: medium not present (sense key 2, ASC/ASCQ 3A/00)".
std::string DescribeSense(const SenseData& sense);

// Why a failed command failed: the system's error, the time-out, the sense
// data or the status, or an empty transfer.
std::string DescribeCommandFailure(const CommandResult& result);

}  // namespace kestrow
