// GNU ddrescue mapfiles: which byte ranges count as finished, and the maps refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "drive/DdrescueMap.h"

namespace kestrow {
namespace {

// As ddrescue 1.27 writes it, blocks out of order to check the sorting.
constexpr const char* kMap =
    "# Mapfile. Created by GNU ddrescue version 1.27\n"
    "# Command line: ddrescue -b2048 /dev/sr0 disc.iso disc.map\n"
    "# current_pos  current_status  current_pass\n"
    "0x00003000     +               1\n"
    "#      pos        size  status\n"
    "0x00001000  0x00000800  -\n"
    "0x00000000  0x00001000  +\n"
    "0x00001800  0x00000800  +\n"
    "0x00002000  0x00000400  +\n"    // joins the block before
    "0x00002400  0x00000400  /\n"
    "    12288        4096  +\n"     // decimal: 0x3000..0x4000
    "0x00004000  0x00000000  ?\n";  // empty, ignored

struct RangeCase {
  std::uint64_t pos;
  std::uint64_t size;
  bool finished;
};

class DdrescueMapQuery : public ::testing::TestWithParam<RangeCase> {};

TEST_P(DdrescueMapQuery, FinishedOnlyWhenAllBytesAreInPlusBlocks) {
  DdrescueMap map;
  std::string reason;
  ASSERT_TRUE(map.Parse(kMap, reason)) << reason;
  EXPECT_EQ(map.IsFinished(GetParam().pos, GetParam().size), GetParam().finished);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, DdrescueMapQuery,
    ::testing::Values(RangeCase{0, 0x1000, true}, RangeCase{0x0800, 0x0800, true},
                      RangeCase{0x0800, 0x0801, false},           // one byte into the bad block
                      RangeCase{0x1000, 0x0800, false},           // the bad block
                      RangeCase{0x17FF, 1, false}, RangeCase{0x1800, 1, true},
                      RangeCase{0x1800, 0x0C00, true},            // across two joined '+' blocks
                      RangeCase{0x2000, 0x0800, false},           // half in a non-scraped block
                      RangeCase{0x3000, 0x1000, true}, RangeCase{0x3000, 0x1001, false},  // past the map
                      RangeCase{0x5000, 0x10, false},             // not listed at all
                      RangeCase{0x1234, 0, true},                 // empty range
                      RangeCase{~0ull - 4, 16, false}),           // wraps around
    [](const auto& p) { return "At" + std::to_string(p.index); });

TEST(DdrescueMap, JoinsAdjacentFinishedBlocks) {
  DdrescueMap map;
  std::string reason;
  ASSERT_TRUE(map.Parse(kMap, reason));
  EXPECT_EQ(map.BlockCount(), 6u);  // the empty block is not kept
  ASSERT_EQ(map.FinishedRanges().size(), 3u);
  EXPECT_EQ(map.FinishedRanges()[1].begin, 0x1800u);
  EXPECT_EQ(map.FinishedRanges()[1].end, 0x2400u);
}

TEST(DdrescueMap, ManyBlocksInAnyOrder) {
  // 20,000 blocks of 2048 bytes, alternately finished and bad, shuffled.
  constexpr std::uint64_t kBlocks = 20000;
  std::vector<std::string> lines;
  for (std::uint64_t i = 0; i < kBlocks; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "0x%08llX  0x00000800  %c\n", static_cast<unsigned long long>(i * 2048),
                  i % 3 == 0 ? '-' : '+');
    lines.emplace_back(line);
  }
  std::shuffle(lines.begin(), lines.end(), std::mt19937(1));
  std::string text = "0x0 + 3\n";
  for (const auto& line : lines) text += line;
  DdrescueMap map;
  std::string reason;
  ASSERT_TRUE(map.Parse(text, reason)) << reason;
  for (std::uint64_t i = 0; i < kBlocks; ++i) {
    ASSERT_EQ(map.IsFinished(i * 2048, 2048), i % 3 != 0) << i;
  }
  EXPECT_TRUE(map.IsFinished(1 * 2048, 2 * 2048));   // blocks 1 and 2
  EXPECT_FALSE(map.IsFinished(2 * 2048, 2 * 2048));  // blocks 2 and 3
}

struct BadMap {
  const char* name;
  std::string text;
  const char* reason;
};

class DdrescueMapRefuses : public ::testing::TestWithParam<BadMap> {};

TEST_P(DdrescueMapRefuses, WithAReasonAndLeavesNothingFinished) {
  DdrescueMap map;
  std::string reason;
  ASSERT_TRUE(map.Parse("0 +\n0 0x1000 +\n", reason));
  EXPECT_FALSE(map.Parse(GetParam().text, reason));
  EXPECT_EQ(reason, GetParam().reason);
  EXPECT_FALSE(map.IsFinished(0, 1));
  EXPECT_EQ(map.BlockCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, DdrescueMapRefuses,
    ::testing::Values(
        BadMap{"Empty", "", "no status line (current_pos current_status)"},
        BadMap{"OnlyComments", "# Mapfile\n# nothing\n", "no status line (current_pos current_status)"},
        BadMap{"BlockBeforeStatusLine", "0x0 0x800 +\n",
               "line 1: current_status is not one of ?*/-FG+ (a block line before the status line?)"},
        BadMap{"StatusLineOneField", "0x0\n", "line 1: status line needs current_pos and current_status"},
        BadMap{"BadPass", "0x0 ? x\n", "line 1: current_pass is not a number"},
        BadMap{"BadStatus", "0x0 +\n0x0 0x800 x\n", "line 2: status is not one of ?*/-+"},
        BadMap{"TwoFields", "0x0 +\n0x0 0x800\n", "line 2: a block line is pos size status"},
        BadMap{"FourFields", "0x0 +\n0x0 0x800 + 1\n", "line 2: more than three fields"},
        BadMap{"BadHex", "0x0 +\n0xZ0 0x800 +\n", "line 2: block position is not a number"},
        BadMap{"NegativeSize", "0x0 +\n0x0 -2048 +\n", "line 2: block size is not a number"},
        BadMap{"TooLarge", "0x0 +\n0x0 0x8000000000000000 +\n", "line 2: block size is not a number"},
        BadMap{"EndsPastLimit", "0x0 +\n0x7FFFFFFFFFFFFF00 0x200 +\n", "line 2: block ends past the largest position"},
        BadMap{"Overlap", "0x0 +\n0x1000 0x800 +\n0x0 0x800 -\n0x0C00 0x800 +\n",
               "line 4: block overlaps the block on line 2"}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace kestrow
