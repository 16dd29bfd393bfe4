// The tests' fault-injecting transport: each fault shows through the real
// READ CAPACITY / READ CD path, and the counters count what was asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "FaultInjectingTransport.h"
#include "MemoryTransport.h"
#include "drive/ScsiCommands.h"

namespace kestrow {
namespace {

constexpr std::size_t kRaw = 2352;

FaultInjectingTransport MakeFaulty(std::uint32_t sectors) {
  return FaultInjectingTransport(std::make_unique<MemoryTransport>(std::vector<std::uint8_t>(sectors * 2048, 0x11)));
}

TEST(FaultInjectingTransport, OpenFailureKeepsTheInnerClosed) {
  auto t = MakeFaulty(4);
  ASSERT_TRUE(t.Open());
  t.FailOpen();
  EXPECT_FALSE(t.Open());
  EXPECT_FALSE(t.IsOpen());
  EXPECT_EQ(t.OpenFailureDetail(), "injected open failure");
  t.ClearFaults();
  EXPECT_TRUE(t.Open());
  t.Close();
  EXPECT_EQ(t.counters().opens, 3u);
  EXPECT_EQ(t.counters().closes, 1u);
}

TEST(FaultInjectingTransport, CapacityFaults) {
  auto t = MakeFaulty(4);
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(scsi::ReadCapacity(t), 4);
  t.OverrideLastLba(9);
  EXPECT_EQ(scsi::ReadCapacity(t), 10);
  t.ReadCapacityTransfersNothing();
  EXPECT_EQ(scsi::ReadCapacity(t), -1);
  t.ClearFaults();
  t.FailReadCapacity();
  EXPECT_EQ(scsi::ReadCapacity(t), -1);
  EXPECT_EQ(t.counters().commands, 4u);
  EXPECT_EQ(t.counters().readCdCommands, 0u);
}

TEST(FaultInjectingTransport, FailingSectorFailsEveryReadThatTouchesIt) {
  auto t = MakeFaulty(6);
  ASSERT_TRUE(t.Open());
  t.FailReadAt(3);
  std::vector<std::uint8_t> buffer(4 * kRaw);
  EXPECT_EQ(scsi::ReadRawSector(t, 2, buffer), static_cast<std::int32_t>(kRaw));
  EXPECT_EQ(scsi::ReadRawSector(t, 3, buffer), -1);
  EXPECT_FALSE(t.Execute(scsi::BuildReadCd12(0, 4), buffer, scsi::kTimeoutSeconds).ok);
  EXPECT_TRUE(t.Execute(scsi::BuildReadCd12(4, 2), buffer, scsi::kTimeoutSeconds).ok);
  EXPECT_EQ(t.counters().readCdCommands, 4u);
  EXPECT_EQ(t.counters().sectorsRequested, 1u + 1u + 4u + 2u);
}

struct ShortCase {
  const char* name;
  std::uint32_t first;
  std::uint32_t count;
  std::uint32_t bytes;        // what sector 2 delivers
  std::uint32_t transferred;  // what the command reports
};

class ShortTransfer : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortTransfer, ReportsAndDeliversOnlyTheCount) {
  auto t = MakeFaulty(6);
  ASSERT_TRUE(t.Open());
  t.ShortTransferAt(2, GetParam().bytes);
  std::vector<std::uint8_t> buffer(GetParam().count * kRaw, 0);
  const CommandResult r =
      t.Execute(scsi::BuildReadCd12(GetParam().first, GetParam().count), buffer, scsi::kTimeoutSeconds);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.transferred, GetParam().transferred);
  EXPECT_TRUE(std::all_of(buffer.begin() + r.transferred, buffer.end(),
                          [](std::uint8_t b) { return b == FaultInjectingTransport::kUndeliveredByte; }));
  if (r.transferred > 0) {
    EXPECT_EQ(buffer[0], 0x00);  // a delivered sector starts with its sync
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ShortTransfer,
    ::testing::Values(ShortCase{"Nothing", 2, 1, 0, 0}, ShortCase{"Hundred", 2, 1, 100, 100},
                      ShortCase{"UserDataPlus100", 2, 1, 404, 404},
                      ShortCase{"AfterTwoWholeSectors", 0, 3, 100, 2 * 2352 + 100},
                      ShortCase{"NotInRange", 3, 2, 100, 2 * 2352}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace kestrow
