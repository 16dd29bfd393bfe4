// How a drive's answer is judged (one function for every platform), what a
// RECOVERED ERROR does to a read through the core, and the words a failure
// is explained in.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <system_error>
#include <memory>
#include <string>
#include <vector>

#include "FaultInjectingTransport.h"
#include "KestrowCore.h"
#include "MemoryTransport.h"
#include "TempDir.h"
#include "drive/CommandJudgement.h"
#include "drive/DiscImageTransport.h"
#include "drive/SectorReader.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  Bytes sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key;
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

struct JudgeCase {
  const char* name;
  bool delivered;
  std::uint8_t status;
  Bytes sense;
  std::uint32_t transferred;  // of 4704 asked for
  bool ok;
  std::uint32_t handedOver;
  bool recovered;
};

class Judgement : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(Judgement, OkTransferAndRecovered) {
  const JudgeCase& c = GetParam();
  PassThroughReport report;
  report.delivered = c.delivered;
  report.systemError = c.delivered ? 0 : EIO;
  report.scsiStatus = c.status;
  report.sense = c.sense;
  report.requested = 4704;
  report.transferred = c.transferred;
  const CommandResult r = JudgeCommand(report);
  EXPECT_EQ(r.ok, c.ok);
  EXPECT_EQ(r.transferred, c.handedOver);
  EXPECT_EQ(r.recovered, c.recovered);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Judgement,
    ::testing::Values(JudgeCase{"Good", true, 0x00, {}, 4704, true, 4704, false},
                      JudgeCase{"GoodShort", true, 0x00, {}, 2352, true, 2352, false},
                      JudgeCase{"GoodNothing", true, 0x00, {}, 0, false, 0, false},
                      JudgeCase{"GoodCountPastTheBuffer", true, 0x00, {}, 9999, true, 4704, false},
                      JudgeCase{"RecoveredFull", true, 0x02, FixedSense(1, 0x18, 0), 4704, true, 4704, true},
                      JudgeCase{"RecoveredShort", true, 0x02, FixedSense(1, 0x18, 0), 2352, false, 0, false},
                      JudgeCase{"MediumErrorWithFullCount", true, 0x02, FixedSense(3, 0x11, 0), 4704, false, 0, false},
                      JudgeCase{"CheckConditionNoSense", true, 0x02, {}, 4704, false, 0, false},
                      JudgeCase{"Busy", true, 0x08, {}, 4704, false, 0, false},
                      JudgeCase{"NotDelivered", false, 0x00, {}, 4704, false, 0, false},
                      JudgeCase{"DescriptorRecovered", true, 0x02, Bytes{0x72, 0x01, 0x17, 0x01}, 4704, true, 4704,
                                true},
                      JudgeCase{"DescriptorMediumError", true, 0x02, Bytes{0x72, 0x03, 0x11, 0x00}, 4704, false, 0,
                                false}),
    [](const auto& p) { return p.param.name; });

// A disc whose every sector says which it is.
std::unique_ptr<FaultInjectingTransport> NumberedDisc(std::uint32_t sectors) {
  Bytes user(std::size_t{sectors} * 2048);
  for (std::size_t i = 0; i < user.size(); ++i) user[i] = static_cast<std::uint8_t>(i % 2048 == 0 ? i / 2048 : i % 7);
  return std::make_unique<FaultInjectingTransport>(std::make_unique<MemoryTransport>(std::move(user)));
}

struct RecoveredCase {
  const char* name;
  bool fullTransfer;
  bool runOk;              // the run of sectors 0..59
  std::size_t delivered;   // sectors handed to the consumer
  std::uint64_t recovered; // counted as RECOVERED ERROR reads
};

class RecoveredError : public ::testing::TestWithParam<RecoveredCase> {};

TEST_P(RecoveredError, ThroughTheFaultInjectingTransport) {
  const RecoveredCase& c = GetParam();
  auto disc = NumberedDisc(80);
  disc->RecoveredErrorAt(40, c.fullTransfer);
  SectorReader reader(*disc);
  ASSERT_TRUE(reader.Open());
  std::size_t delivered = 0;
  bool stale = false;
  const bool ok = reader.ReadSectorRun(0, 60, [&](std::int32_t lba, std::span<const std::uint8_t> raw) {
    ++delivered;
    stale = stale || raw.size() != 2352 || raw[16] != static_cast<std::uint8_t>(lba);
    return true;
  });
  EXPECT_EQ(ok, c.runOk);
  EXPECT_EQ(delivered, c.delivered);
  EXPECT_FALSE(stale) << "a sector was handed over with bytes the drive did not deliver";
  EXPECT_EQ(reader.GetStatistics().recoveredErrors, c.recovered);
}

// Sector 40 lies in the second 27-sector command (27..53).
INSTANTIATE_TEST_SUITE_P(Transfers, RecoveredError,
                         ::testing::Values(RecoveredCase{"FullTransferIsAGoodRead", true, true, 60, 1},
                                           RecoveredCase{"ShortTransferIsAFailedRead", false, false, 40, 0}),
                         [](const auto& p) { return p.param.name; });

struct DiagnosisCase {
  const char* name;
  std::function<void(FaultInjectingTransport&)> fault;
  std::string expected;
};

class Diagnosis : public ::testing::TestWithParam<DiagnosisCase> {};

// A unit attention: sent again, or the end of the job (a disc change).
TEST(Judgement, UnitAttention) {
  struct Case {
    SenseData sense;
    int retried;
    bool answeredBefore;
    UnitAttentionStep step;
  };
  const SenseData changed{6, 0x28, 0}, reset{6, 0x29, 0}, medium{3, 0x11, 0};
  const Case cases[] = {
      {changed, 0, true, UnitAttentionStep::kDiscChanged},  // mid-job: another disc may be in
      {reset, 0, true, UnitAttentionStep::kSendAgain},       // a reset gets its one retry
      {reset, 1, true, UnitAttentionStep::kDiscChanged},     // and is a change after it
      {changed, 0, false, UnitAttentionStep::kSendAgain},   // a new disc greets the job's first command
      {changed, 1, false, UnitAttentionStep::kSendAgain},   // after a reset
      {changed, 2, false, UnitAttentionStep::kGiveUp},
      {medium, 0, true, UnitAttentionStep::kNone},
  };
  for (const Case& c : cases) {
    CommandResult result;
    result.scsiStatus = kScsiStatusCheckCondition;
    result.sense = c.sense;
    EXPECT_EQ(JudgeUnitAttention(result, c.retried, c.answeredBefore), c.step)
        << std::hex << int{c.sense.asc} << " retried " << c.retried << " answered " << c.answeredBefore;
  }
}

TEST_P(Diagnosis, TheLastFailureInWords) {
  auto disc = NumberedDisc(10);
  GetParam().fault(*disc);
  SectorReader reader(*disc);
  std::vector<std::uint8_t> storage(2352 + 16);
  ASSERT_TRUE(reader.Open());
  if (reader.ReadCapacity() > 0) {
    EXPECT_EQ(reader.ReadRawSector(3, AlignSectorBuffer(storage.data())), -1);
  }
  EXPECT_EQ(reader.DescribeLastFailure(), GetParam().expected);
}

// The system's error for a drive without a disc (Linux's errno; on Windows
// GetLastError's ERROR_NOT_READY).
#if defined(ENOMEDIUM)
constexpr int kNoMediumError = ENOMEDIUM;
#else
constexpr int kNoMediumError = 21;
#endif

INSTANTIATE_TEST_SUITE_P(
    Causes, Diagnosis,
    ::testing::Values(
        DiagnosisCase{"NoDisc", [](auto& drive) { drive.FailReadCapacityWith({0x02, 0x3A, 0x02}); },
                      "not ready: medium not present, tray open (sense key 2, ASC/ASCQ 3A/02)"},
        DiagnosisCase{"Spinning", [](auto& drive) { drive.FailReadCapacityWith({0x02, 0x04, 0x01}); },
                      "not ready: becoming ready (sense key 2, ASC/ASCQ 04/01)"},
        DiagnosisCase{"DiscChanged", [](auto& drive) { drive.FailReadCapacityWith({0x06, 0x28, 0x00}); },
                      "unit attention: medium may have changed (sense key 6, ASC/ASCQ 28/00)"},
        DiagnosisCase{"SystemError", [](auto& drive) { drive.FailReadCapacityWithSystemError(kNoMediumError); },
                      std::system_category().message(kNoMediumError)},
        DiagnosisCase{"UnreadableSector", [](auto& drive) { drive.FailReadAt(3); },
                      "medium error: unrecovered read error (sense key 3, ASC/ASCQ 11/00)"},
        DiagnosisCase{"UnknownCode", [](auto& drive) { drive.FailReadCapacityWith({0x04, 0x77, 0x01}); },
                      "hardware error (sense key 4, ASC/ASCQ 77/01)"}),
    [](const auto& p) { return p.param.name; });

TEST(Diagnosis, ACueSheetThatWasNotRecognisedSaysWhy) {
  test::TempDir dir;
  const std::string cue = (dir.path() / "disc.cue").string();
  std::FILE* file = std::fopen(cue.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("FILE \"disc.bin\" BINARY\nTRACK 01 MODE1/2352\nINDX 01 00:00:00\n", file);
  std::fclose(file);
  CKestrowCore core(std::make_unique<DiscImageTransport>(cue));
  EXPECT_EQ(core.GetSectorCount(), -1);
  const std::string why = core.DescribeLastFailure();
  EXPECT_NE(why.find("the image holds no whole sector"), std::string::npos) << why;
  EXPECT_NE(why.find("not read as a cue sheet: line 3: unknown keyword INDX"), std::string::npos) << why;
}

}  // namespace
}  // namespace kestrow
