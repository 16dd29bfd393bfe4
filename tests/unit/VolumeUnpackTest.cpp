// The volume image's rules over bytes: its size from the master directory
// block, the alternate block the packed data lacks, and where the volume
// area's copy of the metadata meets the packed copy.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "recovery/VolumeAssembler.h"
#include "recovery/VolumeUnpack.h"

using namespace kestrow;

namespace {

void PutBe(std::uint8_t* at, std::uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i, value >>= 8) at[i] = static_cast<std::uint8_t>(value);
}

MasterDirectoryBlock Mdb(std::uint32_t alBlSt, std::uint32_t nmAlBlks, std::uint32_t alBlkSiz) {
  MasterDirectoryBlock mdb;
  mdb.bytes[0] = 'B';
  mdb.bytes[1] = 'D';
  PutBe(&mdb.bytes[18], nmAlBlks, 2);
  PutBe(&mdb.bytes[20], alBlkSiz, 4);
  PutBe(&mdb.bytes[28], alBlSt, 2);
  return mdb;
}

class StringSink : public ImageSink {
 public:
  bool Append(std::span<const std::uint8_t> bytes, std::string&) override {
    image.append(bytes.begin(), bytes.end());
    return true;
  }
  std::string image;
};

}  // namespace

TEST(VolumeUnpack, SizeFromTheMasterDirectoryBlock) {
  struct Case {
    std::uint32_t alBlSt, nmAlBlks, alBlkSiz;
    std::optional<std::uint64_t> bytes;
  };
  for (const Case& c : {Case{19, 100, 512, 19 * 512 + 100 * 512 + 1024}, Case{19, 65535, 1024, 9728 + 65535 * 1024 + 1024},
                        Case{19, 10, 0, std::nullopt}, Case{19, 10, 700, std::nullopt},
                        Case{19, 65535, 0x40000000, std::nullopt}}) {
    EXPECT_EQ(MdbVolumeBytes(Mdb(c.alBlSt, c.nmAlBlks, c.alBlkSiz)), c.bytes) << c.nmAlBlks << " x " << c.alBlkSiz;
  }
}

TEST(VolumeUnpack, TheAlternateBlockIsThePrimarysCopyWhenThePackedDataEndsBeforeIt) {
  // 19 x 512 + 4 x 512 + 1,024 = 12,800 bytes; the packed data covers 8,192.
  std::vector<std::uint8_t> packed(8192);
  for (std::size_t i = 0; i < packed.size(); ++i) packed[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const MasterDirectoryBlock mdb = Mdb(19, 4, 512);
  std::copy(mdb.bytes.begin(), mdb.bytes.end(), packed.begin() + 1024);
  StringSink sink;
  VolumeAssembler assembler(sink, {}, {});
  ASSERT_TRUE(assembler.Put(0, packed));
  ASSERT_TRUE(assembler.Finish(packed.size()));
  std::string expected(packed.begin(), packed.end());
  expected += std::string(12800 - 1024 - 8192, '\0');
  expected += expected.substr(1024, 512);
  expected += std::string(512, '\0');
  EXPECT_EQ(sink.image, expected);
  EXPECT_TRUE(assembler.AlternateMdbCopied());
  EXPECT_TRUE(assembler.Lost().empty());
}

TEST(VolumeUnpack, TheAreaFillsWhatThePackedCopyLostAndDifferencesAreCounted) {
  std::string packed("AB\0\0EFGH", 8);
  const std::string area = "ABxyEQGz";
  const AreaMeeting meeting =
      MeetVolumeArea(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(packed.data()), packed.size()), {{2, 4}},
                     std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(area.data()), area.size()),
                     {{7, 8}});
  EXPECT_EQ(packed, "ABxyEFGH");  // the packed copy's bytes stay where both hold one
  EXPECT_EQ(meeting.differing, 1u);
  ASSERT_EQ(meeting.taken.size(), 1u);
  EXPECT_EQ(meeting.taken[0].begin, 2u);
  EXPECT_EQ(meeting.taken[0].end, 4u);
}

TEST(VolumeUnpack, LostRangesNameTheFilesAndStructuresTheyHit) {
  // Catalogue file at blocks 0-3, a file in two extents (blocks 10-11 and 20-21, 2,000 bytes).
  MasterDirectoryBlock mdb = Mdb(19, 100, 512);
  PutBe(&mdb.bytes[150 + 2], 4, 2);
  FileEntry file;
  file.dataLogicalLength = 2000;
  file.dataPhysicalLength = 2048;
  file.dataExtents[0] = {10, 2};
  file.dataExtents[1] = {20, 2};
  const std::uint64_t block0 = 9728;
  struct Case {
    ByteSpan lost;
    std::vector<std::string> structures;
    std::vector<ByteSpan> fileLost;  // empty: the file is not hit
  };
  for (const Case& c : {Case{{block0 + 512, block0 + 1024}, {"catalogue file"}, {}},
                        Case{{block0 + 20 * 512, block0 + 20 * 512 + 100}, {}, {{1024, 1124}}},
                        Case{{1024, block0 + 11 * 512}, {"master directory block", "volume bitmap", "catalogue file"},
                             {{0, 512}}},
                        Case{{block0 + 30 * 512, block0 + 31 * 512}, {}, {}}}) {
    const VolumeHits hits = FindHits({c.lost}, {file}, 512, VolumeStructures(mdb, 60000));
    EXPECT_EQ(hits.structures, c.structures) << c.lost.begin;
    ASSERT_EQ(hits.files.size(), c.fileLost.empty() ? 0u : 1u) << c.lost.begin;
    if (!c.fileLost.empty()) {
      EXPECT_EQ(hits.results[0].lostRanges, c.fileLost);
      EXPECT_EQ(hits.results[0].status, FileStatus::kDamaged);
    }
  }
}
