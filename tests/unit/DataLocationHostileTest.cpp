// The packed-data table when its entries are hostile: boundary values whose
// byte offsets do not fit in 31 bits.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "recovery/DataLocation.h"
#include "text/ByteReader.h"

namespace kestrow {
namespace {

constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();

VolumeImage PackImage(const std::vector<std::uint32_t>& entries) {
  VolumeImage image(15360, 0);
  std::memcpy(&image[3072], "Pack", 4);
  PutBe24(&image[3085], static_cast<std::uint32_t>(entries.size()));
  for (std::size_t k = 0; k < entries.size(); ++k) PutBe24(&image[3096 + 8 * k + 1], entries[k]);
  return image;
}

struct BoundaryCase {
  std::uint32_t units;     // the 24-bit entry value
  std::int32_t expected;   // the boundary in bytes
};

class LargeBoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

// Units from 0x400000 on (2 GiB and more) used to wrap to negative offsets.
TEST_P(LargeBoundaryTest, IsNeverNegative) {
  std::vector<std::int32_t> boundaries;
  ASSERT_TRUE(ReadPackTable(PackImage({GetParam().units}), boundaries));
  ASSERT_EQ(boundaries.size(), 1u);
  EXPECT_EQ(boundaries[0], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, LargeBoundaryTest,
                         ::testing::Values(BoundaryCase{0x3FFFFF, 0x3FFFFF * 512},  // the last that fits
                                           BoundaryCase{0x400000, kLargest},        // 2^31 bytes
                                           BoundaryCase{0x800000, kLargest},        // 2^32 bytes: was 0
                                           BoundaryCase{0xFFFFFF, kLargest}));

TEST(LargeBoundary, KeepsTheGroupsInOrder) {
  // Group 1 runs from 1 GiB to past 2 GiB: an offset near 2^31 lies in it
  // and not, as with a wrapped (negative) end, in no group at all.
  std::vector<std::int32_t> boundaries;
  ASSERT_TRUE(ReadPackTable(PackImage({0, 0x200000, 0x500000}), boundaries));
  ASSERT_EQ(boundaries.size(), 3u);
  EXPECT_LT(boundaries[1], boundaries[2]);
  EXPECT_EQ(FindGroupIndex(boundaries, kLargest - 1), 1);
  EXPECT_EQ(FindGroupIndex(boundaries, 0x200000 * 512 - 1), 0);
}

}  // namespace
}  // namespace kestrow
