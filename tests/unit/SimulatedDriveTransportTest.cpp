// The simulated drive: what it counts and the time it charges, over a run of
// commands that mixes single and multi-sector reads, re-reads, failures and
// short transfers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FaultInjectingTransport.h"
#include "MemoryTransport.h"
#include "drive/ScsiCommands.h"
#include "SimulatedDriveTransport.h"

namespace kestrow {
namespace {

constexpr std::uint64_t kRaw = 2352;
constexpr std::uint32_t kSectors = 200;

struct Read {
  std::uint32_t lba;
  std::uint32_t count;
};

struct Expected {
  std::uint64_t commands;
  std::uint64_t readCdCommands;
  std::uint64_t failedCommands;
  std::uint64_t sectorsRequested;
  std::uint64_t sectorsRead;
  std::uint64_t distinct;
  std::uint64_t bytes;
};

struct CountCase {
  std::string name;
  std::vector<Read> reads;
  Expected expected;
};

// Sector 150 fails; sector 120 comes back with only 100 of its bytes.
std::unique_ptr<SimulatedDriveTransport> MakeDrive() {
  auto faults = std::make_unique<FaultInjectingTransport>(
      std::make_unique<MemoryTransport>(std::vector<std::uint8_t>(kSectors * 2048, 0x33)));
  faults->FailReadAt(150);
  faults->ShortTransferAt(120, 100);
  return std::make_unique<SimulatedDriveTransport>(std::move(faults));
}

TEST(SimulatedDriveTransport, CountsCommandsSectorsAndDistinctSectors) {
  const std::vector<CountCase> cases = {
      {"one sector", {{5, 1}}, {1, 1, 0, 1, 1, 1, kRaw}},
      {"the same sector twice", {{5, 1}, {5, 1}}, {2, 2, 0, 2, 2, 1, 2 * kRaw}},
      {"overlapping runs across a bitmap word", {{60, 10}, {65, 10}}, {2, 2, 0, 20, 20, 15, 20 * kRaw}},
      {"a failed run reads nothing", {{148, 5}, {10, 2}}, {2, 2, 1, 7, 2, 2, 2 * kRaw}},
      {"a short run counts only whole sectors",
       {{118, 4}},
       {1, 1, 0, 4, 2, 2, 2 * kRaw + 100}},
      {"past the end of the disc", {{199, 2}, {199, 1}}, {2, 2, 1, 3, 1, 1, kRaw}},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto drive = MakeDrive();
    ASSERT_TRUE(drive->Open());
    for (const Read& read : c.reads) {
      std::vector<std::uint8_t> buffer(read.count * kRaw);
      drive->Execute(scsi::BuildReadCd12(read.lba, read.count), buffer, scsi::kTimeoutSeconds);
    }
    const auto& got = drive->counters();
    EXPECT_EQ(got.commands, c.expected.commands);
    EXPECT_EQ(got.readCdCommands, c.expected.readCdCommands);
    EXPECT_EQ(got.failedCommands, c.expected.failedCommands);
    EXPECT_EQ(got.sectorsRequested, c.expected.sectorsRequested);
    EXPECT_EQ(got.sectorsRead, c.expected.sectorsRead);
    EXPECT_EQ(drive->DistinctSectorsRead(), c.expected.distinct);
    EXPECT_EQ(got.bytesTransferred, c.expected.bytes);
    EXPECT_DOUBLE_EQ(drive->VirtualSeconds(), static_cast<double>(c.expected.commands) * 0.0005 +
                                                  static_cast<double>(c.expected.bytes) / 7.0e6);
  }
}

TEST(SimulatedDriveTransport, MarksExactlyTheSectorsThatCameBack) {
  auto drive = MakeDrive();
  ASSERT_TRUE(drive->Open());
  std::vector<std::uint8_t> buffer(4 * kRaw);
  drive->Execute(scsi::BuildReadCd12(118, 4), buffer, scsi::kTimeoutSeconds);  // 120 is short
  drive->Execute(scsi::BuildReadCd12(63, 2), buffer, scsi::kTimeoutSeconds);
  for (std::uint32_t lba : {117u, 120u, 121u, 62u, 65u, 5000u}) EXPECT_FALSE(drive->WasRead(lba)) << lba;
  for (std::uint32_t lba : {118u, 119u, 63u, 64u}) EXPECT_TRUE(drive->WasRead(lba)) << lba;
  drive->ResetCounters();
  EXPECT_FALSE(drive->WasRead(118));
  EXPECT_EQ(drive->DistinctSectorsRead(), 0u);
  EXPECT_EQ(drive->VirtualSeconds(), 0.0);
}

TEST(SimulatedDriveTransport, OtherCommandsCostTimeButReadNoSectors) {
  auto drive = MakeDrive();
  ASSERT_TRUE(drive->Open());
  EXPECT_EQ(scsi::ReadCapacity(*drive), static_cast<std::int32_t>(kSectors));
  EXPECT_EQ(drive->counters().commands, 1u);
  EXPECT_EQ(drive->counters().readCdCommands, 0u);
  EXPECT_EQ(drive->counters().bytesTransferred, scsi::kCapacityResultSize);
  EXPECT_EQ(drive->DistinctSectorsRead(), 0u);
}

TEST(DriveCosts, StreamingChargesOneCommandPerBatch) {
  const DriveCosts costs;
  EXPECT_DOUBLE_EQ(costs.StreamingSeconds(0, 27), 0.0);
  EXPECT_DOUBLE_EQ(costs.StreamingSeconds(27, 27), 0.0005 + 27 * 2352 / 7.0e6);
  EXPECT_DOUBLE_EQ(costs.StreamingSeconds(28, 27), 2 * 0.0005 + 28 * 2352 / 7.0e6);
  EXPECT_DOUBLE_EQ(costs.StreamingSeconds(3, 0), 3 * 0.0005 + 3 * 2352 / 7.0e6);
}

}  // namespace
}  // namespace kestrow
