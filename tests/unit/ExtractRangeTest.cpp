// Copying a volume byte range out of the groups' block tables.
#include <gtest/gtest.h>

#include <cstring>

#include "recovery/ExtractRange.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

// The byte a test volume holds at `offset`.
std::uint8_t VolumeByte(std::size_t offset) { return static_cast<std::uint8_t>((offset * 31 + offset / 8192) & 0xFF); }

std::vector<std::uint8_t> PlainBlock(std::uint32_t positionUnits) {
  std::vector<std::uint8_t> block(8192);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = VolumeByte(positionUnits * 512u + i);
  return block;
}

struct StoredBlock {
  std::uint32_t positionUnits;
  std::vector<std::uint8_t> stored;
};

// A group buffer: block count at 14, data end at 16, entries at 44 + 8j,
// stored data after the table; data offsets count from group sector 0.
GroupBuffer MakeGroup(const std::vector<StoredBlock>& blocks) {
  GroupBuffer group(format::kGroupBufferSize, 0);
  PutBe16(&group[14], static_cast<std::uint32_t>(blocks.size()));
  std::size_t at = 44 + 8 * blocks.size();
  for (std::size_t j = 0; j < blocks.size(); ++j) {
    PutBe24(&group[44 + 8 * j + 1], blocks[j].positionUnits);
    PutBe24(&group[44 + 8 * j + 5], static_cast<std::uint32_t>(at + 2048));
    std::memcpy(&group[at], blocks[j].stored.data(), blocks[j].stored.size());
    at += blocks[j].stored.size();
  }
  PutBe32(&group[16], static_cast<std::uint32_t>(at + 2048));
  return group;
}

std::vector<std::uint8_t> Expected(std::uint32_t start, std::uint32_t end) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t i = start; i < end; ++i) bytes.push_back(VolumeByte(i));
  return bytes;
}

std::vector<std::uint8_t> Extract(const std::vector<GroupBuffer>& groups, std::uint32_t start, std::uint32_t end,
                                  bool* complete = nullptr) {
  std::vector<std::uint8_t> out(end - start, 0);
  const bool all = ExtractRange(groups, start, end, out);
  if (complete) *complete = all;
  return out;
}

TEST(ExtractRange, WorkedExample) {
  const auto group = MakeGroup({{32, PlainBlock(32)}, {48, PlainBlock(48)}, {64, PlainBlock(64)}});
  bool complete = false;
  EXPECT_EQ(Extract({group}, 20000, 30000, &complete), Expected(20000, 30000));
  EXPECT_TRUE(complete);
}

struct RangeCase {
  const char* label;
  std::uint32_t start;
  std::uint32_t end;
};

class ExtractRangeAcrossGroups : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ExtractRangeAcrossGroups, CopiesExactlyTheRange) {
  // Volume bytes 0..49,152 in two groups of three blocks each.
  const std::vector<GroupBuffer> groups = {MakeGroup({{0, PlainBlock(0)}, {16, PlainBlock(16)}, {32, PlainBlock(32)}}),
                                           MakeGroup({{48, PlainBlock(48)}, {64, PlainBlock(64)}, {80, PlainBlock(80)}})};
  bool complete = false;
  EXPECT_EQ(Extract(groups, GetParam().start, GetParam().end, &complete), Expected(GetParam().start, GetParam().end));
  EXPECT_TRUE(complete);
}

INSTANTIATE_TEST_SUITE_P(Ranges, ExtractRangeAcrossGroups,
                         ::testing::Values(RangeCase{"MidBlockToMidNextBlock", 5000, 12000},
                                           RangeCase{"WholeFirstBlock", 0, 8192},
                                           RangeCase{"OneByte", 8191, 8192},
                                           RangeCase{"CrossingTheGroupBoundary", 20000, 30000},
                                           RangeCase{"EveryBlock", 1, 49151},
                                           RangeCase{"Empty", 9000, 9000}),
                         [](const auto& info) { return info.param.label; });

TEST(ExtractRange, StoredLengthOf8192IsPlainAnd8191IsLzs) {
  // 8,191 stored bytes beginning with an end marker (1 1000 0000, padded)
  // decode to nothing: the block is zeros, whatever the output held before.
  std::vector<std::uint8_t> stream(8191, 0xFF);
  stream[0] = 0xC0;
  stream[1] = 0x00;
  const auto group = MakeGroup({{0, PlainBlock(0)}, {16, stream}, {32, PlainBlock(32)}});
  std::vector<std::uint8_t> out(24576, 0xEE);
  EXPECT_TRUE(ExtractRange(std::vector<GroupBuffer>{group}, 0, 24576, out));
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 8192, Expected(0, 8192).begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 8192, out.begin() + 16384, [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(out.begin() + 16384, out.end(), Expected(16384, 24576).begin()));
}

TEST(ExtractRange, NoGroupsOrEmptyGroupsSupplyNothing) {
  bool complete = true;
  EXPECT_EQ(Extract({}, 0, 100, &complete), std::vector<std::uint8_t>(100, 0));
  EXPECT_FALSE(complete);
  EXPECT_EQ(Extract({MakeGroup({})}, 0, 100, &complete), std::vector<std::uint8_t>(100, 0));
  EXPECT_FALSE(complete);
}

TEST(ExtractRange, OutputSizeCutsTheLastBlock) {
  const auto group = MakeGroup({{0, PlainBlock(0)}, {16, PlainBlock(16)}});
  std::vector<std::uint8_t> out(100, 0);
  EXPECT_TRUE(ExtractRange({group}, 0, 16384, out));  // the range is longer than the output
  EXPECT_EQ(out, Expected(0, 100));
}

TEST(ExtractRange, HostileTablesStayInsideTheBuffers) {
  auto group = MakeGroup({{0, PlainBlock(0)}, {16, PlainBlock(16)}});
  std::vector<std::uint8_t> out(16384, 0);

  auto pastEnd = group;  // second block's data said to lie past the group buffer
  PutBe24(&pastEnd[44 + 8 + 5], 0xFFFFFF);
  PutBe32(&pastEnd[16], 0xFFFFFFFF);
  EXPECT_FALSE(ExtractRange({pastEnd}, 0, 16384, out));
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 8192, Expected(0, 8192).begin()));

  auto beforeStart = group;  // data offset inside sector 0, which is not in the buffer
  PutBe24(&beforeStart[44 + 5], 100);
  std::fill(out.begin(), out.end(), 0);
  EXPECT_FALSE(ExtractRange({beforeStart}, 0, 16384, out));

  auto manyBlocks = group;  // a block count whose table runs off the buffer
  PutBe16(&manyBlocks[14], 0xFFFF);
  std::fill(out.begin(), out.end(), 0);
  ExtractRange({manyBlocks}, 0, 16384, out);
  EXPECT_EQ(out.size(), 16384u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 8192, Expected(0, 8192).begin()));

  auto plainAtEnd = group;  // a plain block whose 8,192 bytes would run past the buffer
  PutBe24(&plainAtEnd[44 + 8 + 5], static_cast<std::uint32_t>(format::kGroupBufferSize + 2048 - 100));
  PutBe32(&plainAtEnd[16], static_cast<std::uint32_t>(format::kGroupBufferSize + 2048 + 9000));
  EXPECT_FALSE(ExtractRange({plainAtEnd}, 0, 16384, out));
}

}  // namespace
}  // namespace kestrow
