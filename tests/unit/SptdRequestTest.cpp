// The Windows pass-through request block and how its outcome is judged,
// without a drive: the block is what the storage driver reads, byte for byte.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <vector>

#include "drive/ScsiCommands.h"
#include "drive/SptdRequest.h"

namespace kestrow {
namespace {

struct RequestCase {
  const char* name;
  std::vector<std::uint8_t> cdb;
  std::uint32_t dataLength;
};

TEST(SptdRequest, BlocksForReadCdReadCapacityAndTestUnitReady) {
  const auto readCd = scsi::BuildReadCd12(0x00123456, 27);
  const auto capacity = scsi::BuildReadCapacity10();
  const std::vector<RequestCase> cases = {
      {"READ CD", {readCd.begin(), readCd.end()}, 27 * 2352},
      {"READ CAPACITY", {capacity.begin(), capacity.end()}, 8},
      {"TEST UNIT READY", std::vector<std::uint8_t>(6, 0), 0},
  };
  alignas(16) static std::array<std::uint8_t, 27 * 2352> buffer;
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.name);
    const SptdRequest r = BuildSptdRequest(c.cdb, buffer.data(), c.dataLength, scsi::kTimeoutSeconds);
    EXPECT_EQ(r.sptd.Length, sizeof(void*) == 8 ? 56 : 44);
    EXPECT_EQ(r.sptd.ScsiStatus, 0);
    EXPECT_EQ(r.sptd.PathId + r.sptd.TargetId + r.sptd.Lun, 0);
    EXPECT_EQ(r.sptd.CdbLength, c.cdb.size());
    EXPECT_EQ(r.sptd.SenseInfoLength, 14);
    EXPECT_EQ(r.sptd.DataIn, c.dataLength > 0 ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED);
    EXPECT_EQ(r.sptd.DataTransferLength, c.dataLength);
    EXPECT_EQ(r.sptd.TimeOutValue, 5u);
    EXPECT_EQ(r.sptd.DataBuffer, c.dataLength > 0 ? buffer.data() : nullptr);
    // The sense area follows the structure inside the block the driver gets.
    EXPECT_EQ(r.sptd.SenseInfoOffset, offsetof(SptdRequest, sense));
    EXPECT_GE(r.sptd.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_LE(r.sptd.SenseInfoOffset + r.sptd.SenseInfoLength, sizeof(SptdRequest));
    EXPECT_TRUE(std::equal(c.cdb.begin(), c.cdb.end(), r.sptd.Cdb));
    EXPECT_TRUE(std::all_of(r.sptd.Cdb + c.cdb.size(), r.sptd.Cdb + 16, [](UCHAR b) { return b == 0; }));
  }
  const std::array<std::uint8_t, 12> expectedReadCd = {0xBE, 0, 0x00, 0x12, 0x34, 0x56, 0, 0, 27, 0xF8, 0, 0};
  EXPECT_TRUE(std::equal(expectedReadCd.begin(), expectedReadCd.end(),
                         BuildSptdRequest(readCd, buffer.data(), 1, 5).sptd.Cdb));
}

struct OutcomeCase {
  const char* name;
  bool ioctl;
  UCHAR status;
  std::vector<UCHAR> sense;  // as the driver left it
  ULONG transferred;         // DataTransferLength written back
  bool ok;
  std::uint32_t counted;
  std::uint8_t key, asc, ascq;
};

TEST(SptdRequest, OutcomeFromStatusSenseAndTransferCount) {
  const std::vector<UCHAR> noMedium = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00};
  const std::vector<UCHAR> recovered = {0x70, 0, 0x01, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x18, 0x01};
  const std::vector<UCHAR> mediumError = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x05};
  const std::vector<UCHAR> descriptor = {0x72, 0x06, 0x28, 0x00};
  const std::vector<OutcomeCase> cases = {
      {"good, full", true, 0x00, {}, 2352, true, 2352, 0, 0, 0},
      {"good, short", true, 0x00, {}, 2000, true, 2000, 0, 0, 0},
      {"good, nothing", true, 0x00, {}, 0, false, 0, 0, 0, 0},
      {"good, more than asked", true, 0x00, {}, 9999, true, 2352, 0, 0, 0},
      {"DeviceIoControl failed", false, 0x00, {}, 2352, false, 0, 0, 0, 0},
      {"no medium", true, 0x02, noMedium, 0, false, 0, 0x02, 0x3A, 0x00},
      {"recovered error, full", true, 0x02, recovered, 2352, true, 2352, 0x01, 0x18, 0x01},
      {"recovered error, short", true, 0x02, recovered, 2048, false, 0, 0x01, 0x18, 0x01},
      {"medium error, full count", true, 0x02, mediumError, 2352, false, 0, 0x03, 0x11, 0x05},
      {"descriptor sense", true, 0x02, descriptor, 0, false, 0, 0x06, 0x28, 0x00},
      {"busy", true, 0x08, {}, 2352, false, 0, 0, 0, 0},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    SptdRequest r = BuildSptdRequest(scsi::BuildReadCd12(0, 1), nullptr, 2352, 5);
    r.sptd.ScsiStatus = c.status;
    r.sptd.DataTransferLength = c.transferred;
    r.sptd.SenseInfoLength = static_cast<UCHAR>(c.sense.size());
    std::copy(c.sense.begin(), c.sense.end(), r.sense);
    const CommandResult result = JudgeSptdRequest(r, c.ioctl, 2352);
    EXPECT_EQ(result.ok, c.ok);
    if (c.ioctl) {
      EXPECT_EQ(result.transferred, c.counted);
    }
    EXPECT_EQ(result.sense.key, c.key);
    EXPECT_EQ(result.sense.asc, c.asc);
    EXPECT_EQ(result.sense.ascq, c.ascq);
  }
  // TEST UNIT READY moves no data: GOOD alone is success.
  SptdRequest ready = BuildSptdRequest(std::vector<std::uint8_t>(6, 0), nullptr, 0, 5);
  EXPECT_TRUE(JudgeSptdRequest(ready, true, 0).ok);
}

}  // namespace
}  // namespace kestrow
#endif
