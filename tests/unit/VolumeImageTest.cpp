// Loading the volume area through the trailer, and the master directory block check.
#include <gtest/gtest.h>

#include <numeric>

#include "TestDisc.h"
#include "KestrowCore.h"

namespace kestrow {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

struct AreaCase {
  const char* name;
  std::uint32_t volumeStart;
  std::uint32_t volumeEnd;
};

class VolumeAreaTest : public ::testing::TestWithParam<AreaCase> {};

TEST_P(VolumeAreaTest, ImageHoldsExactlyTheAreaBytes) {
  const AreaCase& c = GetParam();
  const std::size_t size = c.volumeEnd > c.volumeStart ? (c.volumeEnd - c.volumeStart) * 512u : 0;
  const auto area = Pattern(size);
  CKestrowCore core(test::MakeDisc(test::MakeDiscUserData(400, c.volumeStart, c.volumeEnd, area)));
  VolumeImage image{1, 2, 3};
  TrackTrailer trailer;
  ASSERT_TRUE(core.LoadVolumeImage(image, &trailer));
  EXPECT_EQ(image, area);
  EXPECT_EQ(trailer.volumeStart, c.volumeStart);
  EXPECT_EQ(trailer.volumeEnd, c.volumeEnd);
  EXPECT_FALSE(core.IsDeviceOpen());
  EXPECT_EQ(core.GetErrorState(), kErrorNone);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, VolumeAreaTest,
    ::testing::Values(AreaCase{"StartNotMultipleOf4", 1001, 1001 + 70},   // sector 250, skip 512
                      AreaCase{"StartOffset3Units", 1003, 1003 + 9},
                      AreaCase{"AlignedStart", 1000, 1000 + 64},
                      AreaCase{"OneUnit", 1001, 1002},
                      AreaCase{"Empty", 1001, 1001},
                      AreaCase{"EndBeforeStart", 1001, 900}),
    [](const auto& info) { return info.param.name; });

TEST(VolumeImage, StartAt1001TakesUserByte512OfSector250) {
  auto disc = test::MakeDiscUserData(400, 1001, 1009, {});
  disc[250 * 2048 + 511] = 0x11;
  disc[250 * 2048 + 512] = 0x22;
  disc[251 * 2048] = 0x33;
  CKestrowCore core(test::MakeDisc(disc));
  VolumeImage image;
  ASSERT_TRUE(core.LoadVolumeImage(image));
  ASSERT_EQ(image.size(), 8u * 512);
  EXPECT_EQ(image[0], 0x22);
  EXPECT_EQ(image[1536], 0x33);
}

TEST(VolumeImage, SignatureDifferingInLastLetterLeavesImageUntouched) {
  auto disc = test::MakeDiscUserData(400, 1000, 1100, Pattern(100 * 512));
  disc[399 * 2048 + 3] = 'c';
  CKestrowCore core(test::MakeDisc(disc));
  VolumeImage image{9, 9};
  EXPECT_FALSE(core.LoadVolumeImage(image));
  EXPECT_EQ(image, (VolumeImage{9, 9}));
  EXPECT_EQ(core.GetErrorState(), kErrorReadOrFormat);
  EXPECT_FALSE(core.IsDeviceOpen());
}

TEST(VolumeImage, AreaReachingPastTheDiscFails) {
  CKestrowCore core(test::MakeDisc(test::MakeDiscUserData(400, 1000, 400 * 4 + 1, {})));
  VolumeImage image;
  EXPECT_FALSE(core.LoadVolumeImage(image));
  EXPECT_EQ(core.GetErrorState(), kErrorReadOrFormat);
}

TEST(VolumeImage, TrailerEndIsA24BitField) {
  // Byte 32 of the trailer is not part of the end; MakeDiscUserData sets it to 0xEE.
  CKestrowCore core(test::MakeDisc(test::MakeDiscUserData(400, 4, 8, Pattern(2048))));
  VolumeImage image;
  ASSERT_TRUE(core.LoadVolumeImage(image));
  EXPECT_EQ(image.size(), 2048u);
}

struct MdbCase {
  std::size_t imageSize;
  const char* signature;
  bool valid;
};

class MasterDirectoryBlockTest : public ::testing::TestWithParam<MdbCase> {};

TEST_P(MasterDirectoryBlockTest, ChecksSizeAndSignature) {
  const MdbCase& c = GetParam();
  VolumeImage image(c.imageSize, 0x5A);
  if (image.size() >= 0x4002) {
    image[0x4000] = static_cast<std::uint8_t>(c.signature[0]);
    image[0x4001] = static_cast<std::uint8_t>(c.signature[1]);
  }
  CKestrowCore core(test::MakeDisc({}));
  MasterDirectoryBlock mdb;
  mdb.bytes.fill(0x77);
  EXPECT_EQ(core.ReadMasterDirectoryBlock(image, mdb), c.valid);
  if (c.valid) {
    EXPECT_EQ(mdb.drSigWord(), 0x4244u);
    EXPECT_EQ(mdb.bytes[161], 0x5A);
    EXPECT_EQ(core.GetErrorState(), kErrorNone);
  } else {
    EXPECT_EQ(mdb.bytes[0], 0x77) << "a failed check leaves the record untouched";
    EXPECT_EQ(core.GetErrorState(), kErrorReadOrFormat);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MasterDirectoryBlockTest,
                         ::testing::Values(MdbCase{16546, "BD", true}, MdbCase{16545, "BD", false},
                                           MdbCase{0, "BD", false}, MdbCase{20000, "bd", false},
                                           MdbCase{20000, "H+", false}, MdbCase{20000, "BD", true}));

TEST(MasterDirectoryBlock, FieldsComeFromTheRightOffsets) {
  MasterDirectoryBlock mdb;
  PutBe32(&mdb.bytes[20], 1024);
  mdb.bytes[36] = 4;
  std::memcpy(&mdb.bytes[37], "Disk", 4);
  PutBe32(&mdb.bytes[84], 19);
  PutBe32(&mdb.bytes[88], 5);
  EXPECT_EQ(mdb.drAlBlkSiz(), 1024u);
  EXPECT_EQ(mdb.VolumeName(), "Disk");
  EXPECT_EQ(mdb.drFilCnt(), 19u);
  EXPECT_EQ(mdb.drDirCnt(), 5u);
  mdb.bytes[36] = 200;  // a length past the 27-byte field is cut to it
  EXPECT_EQ(mdb.VolumeName().size(), 27u);
}

}  // namespace
}  // namespace kestrow
