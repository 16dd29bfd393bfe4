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
inline constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;
inline constexpr std::uint8_t kAscMediumMayHaveChanged = 0x28;
inline constexpr std::uint8_t kAscResetOccurred = 0x29;

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

// What a command that ended in UNIT ATTENTION means for the job that sent it.
enum class UnitAttentionStep {
  kNone,         // not a unit attention: the result stands
  kSendAgain,    // send the same command once more
  kDiscChanged,  // the disc may not be the one the job has been reading: end the job
  kGiveUp,       // still a unit attention after the retries: a failed command
};

// A drive answers UNIT ATTENTION once for each event: ASC 28h after a disc
// was put in, 29h after a reset or power-on (the disc may have changed with
// it). Once the source has answered a command of the job (`answeredBefore`),
// a 28h means the disc was changed under the job, and so does any unit
// attention that answers the one retry a 29h (or another unit attention) gets. Before that it is a new
// disc greeting the job: the command is sent again, at most twice (a reset
// and a new disc). `retried` counts the times this command was sent again.
UnitAttentionStep JudgeUnitAttention(const CommandResult& result, int retried, bool answeredBefore);

// Key, ASC and ASCQ of fixed (0x70, 0x71) or descriptor (0x72, 0x73) sense
// data; all zero when there is none to read.
SenseData ParseSense(std::span<const std::uint8_t> sense);

// "not ready: medium not present (sense key 2, ASC/ASCQ 3A/00)".
std::string DescribeSense(const SenseData& sense);

// Why a failed command failed: the system's error, the time-out, the sense
// data or the status, or an empty transfer.
std::string DescribeCommandFailure(const CommandResult& result);

}  // namespace kestrow
