// The packed-data table, fork ranges, group choice and group placement.
#include <gtest/gtest.h>

#include <cstring>

#include "recovery/DataLocation.h"
#include "text/ByteReader.h"

namespace kestrow {
namespace {

VolumeImage PackImage(std::size_t size, std::vector<std::uint32_t> entries, std::uint32_t count) {
  VolumeImage image(size, 0);
  std::memcpy(&image[3072], "Pack", 4);
  PutBe24(&image[3085], count);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::size_t at = 3096 + 8 * k;
    image[at] = 0xAA;  // not part of the value
    if (at + 4 <= image.size()) PutBe24(&image[at + 1], entries[k]);
  }
  return image;
}

TEST(ReadPackTable, BoundariesAreEntryValuesTimes512) {
  std::vector<std::int32_t> boundaries;
  ASSERT_TRUE(ReadPackTable(PackImage(15360, {0, 2048, 4096}, 3), boundaries));
  EXPECT_EQ(boundaries, (std::vector<std::int32_t>{0, 1048576, 2097152}));
}

TEST(ReadPackTable, SizeAndSignatureChecks) {
  std::vector<std::int32_t> b;
  EXPECT_TRUE(ReadPackTable(PackImage(15360, {}, 0), b));
  EXPECT_TRUE(b.empty());
  EXPECT_FALSE(ReadPackTable(PackImage(15359, {}, 0), b));
  EXPECT_FALSE(ReadPackTable(VolumeImage{}, b));
  auto image = PackImage(15360, {1}, 1);
  image[3075] = 'c';
  EXPECT_FALSE(ReadPackTable(image, b));
}

TEST(ReadPackTable, EntriesPastTheImageAreNotRead) {
  // A count of 16 million in a 15,360-byte preamble: only the entries that fit.
  std::vector<std::int32_t> b;
  ASSERT_TRUE(ReadPackTable(PackImage(15360, {1, 2, 3}, 0xFFFFFF), b));
  EXPECT_EQ(b.size(), (15360u - 3096u - 4u) / 8u + 1u);
  EXPECT_EQ(b[2], 3 * 512);
}

struct GroupCase {
  std::vector<std::int32_t> boundaries;
  std::int32_t offset;
  int expected;
};

class FindGroupIndexTest : public ::testing::TestWithParam<GroupCase> {};

TEST_P(FindGroupIndexTest, PicksTheGroupHoldingTheOffset) {
  EXPECT_EQ(FindGroupIndex(GetParam().boundaries, GetParam().offset), GetParam().expected);
}

const std::vector<std::int32_t> kThree = {0, 1048576, 2097152};

INSTANTIATE_TEST_SUITE_P(
    Offsets, FindGroupIndexTest,
    ::testing::Values(GroupCase{kThree, 0, 0}, GroupCase{kThree, 1048575, 0}, GroupCase{kThree, 1048576, 1},
                      GroupCase{kThree, 2097152, 2}, GroupCase{kThree, -5, 2}, GroupCase{kThree, 9999999, 2},
                      GroupCase{{4096}, 0, 0}, GroupCase{{4096}, 123456, 0}, GroupCase{{}, 0, -1},
                      GroupCase{{0, 100, 50, 200}, 60, 2}));  // falling table: the highest match wins

TEST(GroupBaseSector, WorkedExample) {
  // 300,000 sectors, a 1 MiB volume area (512 sectors), 40 boundaries.
  EXPECT_EQ(GroupBaseSector(300000, 1048576, 40), 289584);
  EXPECT_EQ(GroupBaseSector(300000, 1048576, 40) + 38 * 248, 299008);
}

TEST(GroupBaseSector, VolumeAreaRoundsUpToSectorsAndGroups) {
  // Two boundaries describe one sector group, just before the volume's groups.
  // 247 × 2048 bytes + the trailer sector = exactly one group of 248 sectors.
  EXPECT_EQ(GroupBaseSector(10000, 247 * 2048, 2), 10000 - 248 - 248);
  // One byte more needs a second group.
  EXPECT_EQ(GroupBaseSector(10000, 247 * 2048 + 1, 2), 10000 - 2 * 248 - 248);
}

TEST(ForkByteRange, FirstExtentTimesBlockSizeAfterAllocationBlock0) {
  FileEntry entry;
  entry.dataExtents[0].startBlock = 3;
  entry.dataExtents[1].startBlock = 900;  // later extents are not consulted
  entry.dataStartBlock = 77;              // nor is filStBlk
  entry.dataLogicalLength = 10000;
  const ByteRange r = ForkByteRange(entry, 512);
  EXPECT_EQ(r.start, 3 * 512 + 9728);
  EXPECT_EQ(r.end, 3 * 512 + 9728 + 10000);
}

}  // namespace
}  // namespace kestrow
