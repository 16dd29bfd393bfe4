// mkdisc's disc images, read back byte by byte the way a drive would see
// them: trailer, volume area, "Pack" table, group block tables and blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestDisc.h"
#include "DiscBuilder.h"
#include "recovery/DataLocation.h"
#include "recovery/Lzs.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;
using mkdisc::DiscLayout;
using mkdisc::DiscOptions;

constexpr std::size_t kRaw = 2352;
constexpr std::size_t kUser = 2048;
constexpr std::size_t kBlock = 8192;
constexpr std::size_t kGroupBuffer = 247 * 2048;

std::size_t CatalogEnd(std::uint32_t catalogBlocks) { return 9728 + (1 + catalogBlocks) * std::size_t{512}; }

// The user data of the disc from byte `at` (counted over user data from LBA 0).
Bytes UserBytes(const Bytes& disc, std::size_t at, std::size_t length) {
  Bytes bytes;
  for (std::size_t i = at; i < at + length; ++i) bytes.push_back(disc.at(i / kUser * kRaw + 16 + i % kUser));
  return bytes;
}

struct Readback {
  std::uint32_t volumeStart = 0;
  std::size_t groups = 0;
  std::size_t plainBlocks = 0;
  std::size_t lzsBlocks = 0;
  std::size_t mostBlocksInGroup = 0;
  int groupBase = 0;
};

// Decodes one group's blocks, checking that they continue the volume from
// `nextUnit`, and appends their contents to `volume`.
void ReadGroup(const Bytes& group, std::uint32_t& nextUnit, Bytes& volume, Readback& result) {
  const ByteReader reader(group);
  const std::uint32_t m = *reader.be16(14);
  ASSERT_GT(m, 0u);
  result.mostBlocksInGroup = std::max<std::size_t>(result.mostBlocksInGroup, m);
  for (std::uint32_t j = 0; j < m; ++j) {
    const std::size_t entry = 44 + 8 * std::size_t{j};
    EXPECT_EQ(*reader.be24(entry + 1), nextUnit) << "block " << j << " is not contiguous";
    const std::size_t begin = *reader.be24(entry + 5) - std::size_t{2048};
    const std::size_t end = (j + 1 < m ? *reader.be24(entry + 8 + 5) : *reader.be32(16)) - std::size_t{2048};
    ASSERT_GE(begin, entry + 8 * std::size_t{m - j});  // after the table
    ASSERT_LE(begin, end);
    ASSERT_LE(end, group.size());
    Bytes block(kBlock, 0);
    if (end - begin >= kBlock) {
      EXPECT_EQ(end - begin, kBlock);
      std::copy_n(group.begin() + static_cast<std::ptrdiff_t>(begin), kBlock, block.begin());
      ++result.plainBlocks;
    } else {
      EXPECT_EQ(LzsDecompress(group.data() + begin, static_cast<int>(end - begin), block.data()), 8192);
      ++result.lzsBlocks;
    }
    volume.insert(volume.end(), block.begin(), block.end());
    nextUnit += 16;
  }
}

// Reads the disc back independently of the builder and checks that it
// reproduces the volume and lays everything out where the reader expects it.
Readback ReadBack(const Bytes& disc, const Bytes& volume, std::size_t catalogEnd) {
  Readback result;
  EXPECT_EQ(disc.size() % kRaw, 0u);
  const std::size_t sectors = disc.size() / kRaw;
  const Bytes trailer = UserBytes(disc, (sectors - 1) * kUser, kUser);
  EXPECT_EQ(std::string(trailer.begin(), trailer.begin() + 4), "Trkb");
  EXPECT_EQ(trailer[32], 0);
  const std::uint32_t start = *ByteReader(trailer).be32(28);
  const std::uint32_t end = *ByteReader(trailer).be24(33);
  result.volumeStart = start;
  EXPECT_LE(std::size_t{end} * 512, (sectors - 1) * kUser) << "the volume area runs into the trailer sector";
  const std::size_t areaBytes = (std::size_t{end} - start) * 512;
  EXPECT_GE(areaBytes, 15360 + catalogEnd);
  const Bytes area = UserBytes(disc, std::size_t{start} * 512, areaBytes);
  EXPECT_TRUE(std::equal(volume.begin(), volume.begin() + static_cast<std::ptrdiff_t>(catalogEnd), area.begin() + 15360));
  EXPECT_TRUE(std::all_of(area.begin() + static_cast<std::ptrdiff_t>(15360 + catalogEnd), area.end(),
                          [](std::uint8_t b) { return b == 0; }));

  const ByteReader image(area);
  EXPECT_TRUE(image.matches(3072, "Pack"));
  const std::uint32_t n = *image.be24(3085);
  EXPECT_GE(n, 2u);
  result.groups = n - 1;
  result.groupBase = GroupBaseSector(static_cast<int>(sectors), static_cast<int>(areaBytes), static_cast<int>(n));
  Bytes packed;
  std::uint32_t nextUnit = 0;
  for (std::uint32_t k = 0; k + 1 < n; ++k) {
    SCOPED_TRACE("group " + std::to_string(k));
    EXPECT_EQ(*image.be24(3096 + 8 * std::size_t{k} + 1), nextUnit) << "boundary is not the group's first block";
    const std::size_t firstSector = static_cast<std::size_t>(result.groupBase) + 248 * std::size_t{k} + 1;
    ReadGroup(UserBytes(disc, firstSector * kUser, kGroupBuffer), nextUnit, packed, result);
  }
  EXPECT_EQ(*image.be24(3096 + 8 * std::size_t{n - 1} + 1), nextUnit) << "last entry is not the packed data's end";
  EXPECT_EQ(packed.size(), (volume.size() + kBlock - 1) / kBlock * kBlock);
  EXPECT_TRUE(std::equal(volume.begin(), volume.end(), packed.begin())) << "the blocks do not reproduce the volume";
  EXPECT_TRUE(std::all_of(packed.begin() + static_cast<std::ptrdiff_t>(volume.size()), packed.end(),
                          [](std::uint8_t b) { return b == 0; }));
  return result;
}

// The Mode 1 header of every sector names its own address.
void ExpectMode1Headers(const Bytes& disc) {
  for (std::size_t lba = 0; lba < disc.size() / kRaw; ++lba) {
    const std::uint8_t* raw = disc.data() + lba * kRaw;
    const std::size_t frame = lba + 150;
    auto bcd = [](std::size_t v) { return static_cast<std::uint8_t>(v / 10 * 16 + v % 10); };
    const Bytes expected = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                            bcd(frame / 4500), bcd(frame / 75 % 60), bcd(frame % 75), 0x01};
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), raw)) << "sector " << lba;
  }
}

struct LayoutCase {
  std::string name;
  DiscOptions options;
  std::size_t volumeBytes;
  std::uint32_t catalogBlocks;
  std::size_t groups;  // expected group count
};

DiscOptions Options(std::size_t perGroup, unsigned offset, bool plain, std::size_t leading) {
  DiscOptions options;
  options.blocksPerGroup = perGroup;
  options.volumeStartOffset = offset;
  options.uncompressed = plain;
  options.leadingSectors = leading;
  return options;
}

TEST(Mkdisc, DiscsReadBackAsTheVolume) {
  constexpr std::size_t kSmall = 50 * kBlock + 2560;  // 51 blocks, the last one partial
  // Area of exactly 247 sectors: with offset 0 it just fits before the trailer sector.
  constexpr std::uint32_t kSqueezed = 939 - 1;
  const std::vector<LayoutCase> cases = {
      {"defaults", {}, kSmall, 40, 1},
      {"volume start offset 1", Options(0, 1, false, 16), kSmall, 40, 1},
      {"volume start offset 2", Options(0, 2, false, 16), kSmall, 40, 1},
      {"volume start offset 3", Options(0, 3, false, 16), kSmall, 40, 1},
      {"3 blocks per group", Options(3, 0, false, 16), kSmall, 40, 17},
      {"no leading sectors", Options(0, 0, false, 0), kSmall, 40, 1},
      {"uncompressed: 61 plain blocks fill a group", Options(0, 0, true, 16), 130 * kBlock, 40, 3},
      {"all options", Options(4, 3, true, 7), kSmall, 40, 13},
      {"squeezed area, offset 0", Options(0, 0, false, 16), 61 * kBlock, kSqueezed, 1},
      {"squeezed area, offset 1", Options(0, 1, false, 16), 61 * kBlock, kSqueezed, 1},
      {"squeezed area, offset 3", Options(0, 3, false, 16), 61 * kBlock, kSqueezed, 1},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes volume = test::MakePackableVolume(c.volumeBytes, c.catalogBlocks);
    Bytes disc;
    DiscLayout layout;
    std::string error;
    ASSERT_TRUE(mkdisc::BuildDisc(volume, c.options, disc, layout, error)) << error;
    const Readback back = ReadBack(disc, volume, CatalogEnd(c.catalogBlocks));
    EXPECT_EQ(back.groupBase, static_cast<int>(c.options.leadingSectors)) << "groups are not where the reader looks";
    EXPECT_EQ(back.volumeStart % 4, c.options.volumeStartOffset);
    EXPECT_EQ(back.groups, c.groups);
    if (c.options.blocksPerGroup > 0) {
      EXPECT_LE(back.mostBlocksInGroup, c.options.blocksPerGroup);
    }
    if (c.options.uncompressed) {
      EXPECT_EQ(back.lzsBlocks, 0u);
    } else {
      EXPECT_GT(back.lzsBlocks, 0u);
      EXPECT_GT(back.plainBlocks, 0u);  // the random blocks
    }
    ExpectMode1Headers(disc);
  }
}

TEST(Mkdisc, RefusesVolumesAndOptionsItCannotPack) {
  struct RefusalCase {
    std::string name;
    std::size_t at;         // byte to patch, or SIZE_MAX for none
    Bytes patch;
    DiscOptions options;
    std::size_t volumeBytes = 20 * kBlock;
  };
  const std::size_t none = SIZE_MAX;
  const std::vector<RefusalCase> cases = {
      {"no BD signature", 1025, {'X'}, {}},
      {"allocation block 0 not at byte 9728", 1024 + 28, {0, 20}, {}},
      {"allocation block size 0", 1024 + 20, {0, 0, 0, 0}, {}},
      {"allocation block size not a multiple of 512", 1024 + 20, {0, 0, 3, 0xE8}, {}},
      {"catalogue past the volume's end", 1024 + 156, {0x7F, 0xFF}, {}},
      {"empty catalogue extents", 1024 + 150, Bytes(12, 0), {}},
      {"volume too short for its MDB", none, {}, {}, 1100},
      {"volume start offset 4", none, {}, Options(0, 4, false, 16)},
      {"more groups than the Pack table holds", none, {}, Options(1, 0, false, 16), 1540 * kBlock},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes volume = test::MakePackableVolume(std::max<std::size_t>(c.volumeBytes, 20 * kBlock), 20);
    if (c.at != none) std::copy(c.patch.begin(), c.patch.end(), volume.begin() + static_cast<std::ptrdiff_t>(c.at));
    volume.resize(c.volumeBytes);
    Bytes disc;
    DiscLayout layout;
    std::string error;
    EXPECT_FALSE(mkdisc::BuildDisc(volume, c.options, disc, layout, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(disc.empty());
  }
}

}  // namespace
}  // namespace kestrow
