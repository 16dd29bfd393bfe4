#include "drive/CommandJudgement.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <system_error>

namespace kestrow {
namespace {

constexpr std::uint8_t kAnyAscq = 0xFF;

struct AscText {
  std::uint8_t asc;
  std::uint8_t ascq;  // kAnyAscq: every qualifier
  const char* text;
};

// The additional sense codes an optical drive answers with most (MMC, SPC).
constexpr std::array<AscText, 38> kAscTexts = {{
    {0x04, 0x00, "logical unit not ready"},
    {0x04, 0x01, "becoming ready"},
    {0x04, 0x02, "initializing command required"},
    {0x04, 0x03, "manual intervention required"},
    {0x04, 0x07, "operation in progress"},
    {0x04, 0x08, "long write in progress"},
    {0x06, 0x00, "no reference position found"},
    {0x08, 0x00, "logical unit communication failure"},
    {0x08, 0x01, "logical unit communication time-out"},
    {0x09, 0x00, "track following error"},
    {0x09, 0x01, "tracking servo failure"},
    {0x09, 0x02, "focus servo failure"},
    {0x11, 0x00, "unrecovered read error"},
    {0x11, 0x05, "L-EC uncorrectable error"},
    {0x11, 0x06, "CIRC unrecovered error"},
    {0x15, 0x00, "random positioning error"},
    {0x15, 0x01, "mechanical positioning error"},
    {0x15, 0x02, "positioning error detected by read of medium"},
    {0x17, kAnyAscq, "recovered data with no error correction applied"},
    {0x18, kAnyAscq, "recovered data with error correction applied"},
    {0x20, 0x00, "invalid command operation code"},
    {0x21, 0x00, "logical block address out of range"},
    {0x24, 0x00, "invalid field in CDB"},
    {0x28, 0x00, "medium may have changed"},
    {0x29, kAnyAscq, "power on, reset or bus device reset occurred"},
    {0x30, 0x00, "incompatible medium installed"},
    {0x30, 0x01, "cannot read medium: unknown format"},
    {0x30, 0x02, "cannot read medium: incompatible format"},
    {0x31, 0x00, "medium format corrupted"},
    {0x3A, 0x00, "medium not present"},
    {0x3A, 0x01, "medium not present, tray closed"},
    {0x3A, 0x02, "medium not present, tray open"},
    {0x44, 0x00, "internal target failure"},
    {0x57, 0x00, "unable to recover table of contents"},
    {0x5A, 0x01, "operator medium removal request"},
    {0x63, 0x00, "end of user area encountered on this track"},
    {0x64, 0x00, "illegal mode for this track"},
    {0x64, 0x01, "invalid packet size"},
}};

constexpr std::array<const char*, 16> kKeyTexts = {
    "no sense",       "recovered error", "not ready",      "medium error",
    "hardware error", "illegal request", "unit attention", "data protect",
    "blank check",    "vendor specific", "copy aborted",   "aborted command",
    "reserved key",   "volume overflow", "miscompare",     "completed"};

const char* AscTextOf(const SenseData& sense) {
  for (const AscText& entry : kAscTexts) {
    if (entry.asc == sense.asc && (entry.ascq == kAnyAscq || entry.ascq == sense.ascq)) return entry.text;
  }
  return nullptr;
}

std::string StatusText(std::uint8_t status) {
  const char* name = "";
  switch (status) {
    case 0x08: name = " (busy)"; break;
    case 0x18: name = " (reservation conflict)"; break;
    case 0x28: name = " (task set full)"; break;
    case 0x30: name = " (ACA active)"; break;
    case 0x40: name = " (task aborted)"; break;
    default: break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "SCSI status 0x%02X%s", status, name);
  return text;
}

}  // namespace

CommandResult JudgeCommand(const PassThroughReport& report) {
  CommandResult result;
  result.systemError = report.delivered ? 0 : report.systemError;
  result.timedOut = report.timedOut;
  result.scsiStatus = report.scsiStatus;
  if (report.scsiStatus == kScsiStatusCheckCondition) result.sense = ParseSense(report.sense);
  // The count is the system's word; never past what was asked for.
  const std::uint32_t moved = std::min(report.transferred, report.requested);
  // A command without data (TEST UNIT READY) moves nothing and may succeed.
  if (!report.delivered || report.timedOut || (moved == 0 && report.requested > 0)) return result;
  if (report.scsiStatus == kScsiStatusGood) {
    result.ok = true;
  } else if (report.scsiStatus == kScsiStatusCheckCondition && result.sense.key == kSenseKeyRecoveredError &&
             moved == report.requested) {
    result.ok = true;
    result.recovered = true;
  }
  result.transferred = result.ok ? moved : 0;
  return result;
}

UnitAttentionStep JudgeUnitAttention(const CommandResult& result, int retried, bool answeredBefore) {
  if (result.ok || result.scsiStatus != kScsiStatusCheckCondition || result.sense.key != kSenseKeyUnitAttention) {
    return UnitAttentionStep::kNone;
  }
  constexpr int kRetriesOfANewDisc = 2;
  if (answeredBefore) {
    const bool changed = result.sense.asc == kAscMediumMayHaveChanged || retried > 0;
    return changed ? UnitAttentionStep::kDiscChanged : UnitAttentionStep::kSendAgain;
  }
  return retried < kRetriesOfANewDisc ? UnitAttentionStep::kSendAgain : UnitAttentionStep::kGiveUp;
}

SenseData ParseSense(std::span<const std::uint8_t> sense) {
  SenseData data;
  if (sense.empty()) return data;
  const std::uint8_t responseCode = sense[0] & 0x7F;
  const auto at = [&](std::size_t i) -> std::uint8_t { return i < sense.size() ? sense[i] : 0; };
  if (responseCode == 0x70 || responseCode == 0x71) {
    data.key = at(2) & 0x0F;
    data.asc = at(12);
    data.ascq = at(13);
  } else if (responseCode == 0x72 || responseCode == 0x73) {
    data.key = at(1) & 0x0F;
    data.asc = at(2);
    data.ascq = at(3);
  }
  return data;
}

std::string DescribeSense(const SenseData& sense) {
  std::string text = kKeyTexts[sense.key & 0x0F];
  if (const char* asc = AscTextOf(sense)) text += std::string(": ") + asc;
  char codes[64];
  std::snprintf(codes, sizeof codes, " (sense key %X, ASC/ASCQ %02X/%02X)", sense.key & 0x0F, sense.asc, sense.ascq);
  return text + codes;
}

std::string DescribeCommandFailure(const CommandResult& result) {
  if (result.timedOut) return "the drive did not answer in time";
  if (result.systemError != 0) return std::system_category().message(result.systemError);
  if (result.scsiStatus == kScsiStatusCheckCondition) {
    std::string text = DescribeSense(result.sense);
    if (result.sense.key == kSenseKeyRecoveredError && !result.ok) text += ", but not all the data came back";
    return text;
  }
  if (result.scsiStatus != kScsiStatusGood) return StatusText(result.scsiStatus);
  if (result.transferred == 0) return "the drive returned no data";
  return {};
}

}  // namespace kestrow
