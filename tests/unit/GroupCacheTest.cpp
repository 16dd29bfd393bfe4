// The groups a job keeps between files: read once while they fit, the
// farthest next use let go first, never more than the budget.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "recovery/GroupCache.h"

namespace kestrow {
namespace {

constexpr std::size_t kGroup = 16;  // bytes of one test group buffer

struct Replay {
  std::vector<int> reads;  // groups read, in order
  std::size_t mostKept = 0;
  bool contentsKept = true;  // every group taken back held the bytes it was kept with
};

// Walks the files in order as the recovery worker does: take or read each
// group of the file, then give them all back.
Replay ReplayJob(const std::vector<GroupSpan>& spans, std::size_t budgetGroups) {
  GroupCache cache(spans, budgetGroups * kGroup);
  Replay replay;
  for (std::size_t file = 0; file < spans.size(); ++file) {
    std::vector<SharedGroup> held;
    for (int g = spans[file].first; g <= spans[file].last; ++g) {
      SharedGroup kept = cache.Take(g);
      if (kept) {
        replay.contentsKept = replay.contentsKept && *kept == GroupBuffer(kGroup, static_cast<std::uint8_t>(g));
        held.push_back(std::move(kept));
      } else {
        replay.reads.push_back(g);
        held.push_back(std::make_shared<const GroupBuffer>(kGroup, static_cast<std::uint8_t>(g)));
      }
    }
    for (int g = spans[file].first; g <= spans[file].last; ++g) {
      cache.Return(g, std::move(held[static_cast<std::size_t>(g - spans[file].first)]), file);
      replay.mostKept = std::max(replay.mostKept, cache.KeptBytes());
    }
  }
  replay.mostKept /= kGroup;
  return replay;
}

struct CacheCase {
  const char* name;
  std::vector<GroupSpan> spans;
  std::size_t budgetGroups;
  std::vector<int> reads;
};

class GroupCacheTest : public ::testing::TestWithParam<CacheCase> {};

TEST_P(GroupCacheTest, ReadsOnlyWhatTheBudgetForcesAgain) {
  const CacheCase& c = GetParam();
  const Replay replay = ReplayJob(c.spans, c.budgetGroups);
  EXPECT_EQ(replay.reads, c.reads);
  EXPECT_LE(replay.mostKept, c.budgetGroups);
  EXPECT_TRUE(replay.contentsKept);
}

const GroupSpan kNone{};

INSTANTIATE_TEST_SUITE_P(
    Jobs, GroupCacheTest,
    ::testing::Values(
        CacheCase{"FilesInTableOrderShareEdgeGroups", {{0, 1}, {1, 2}, {2, 2}, {2, 4}}, 64, {0, 1, 2, 3, 4}},
        CacheCase{"OneGroupOfRoomIsEnoughInTableOrder", {{0, 1}, {1, 2}, {2, 2}, {2, 4}}, 1, {0, 1, 2, 3, 4}},
        CacheCase{"OutOfOrderFilesComeBackToKeptGroups", {{3, 3}, {0, 0}, {3, 4}, {0, 1}}, 64, {3, 0, 4, 1}},
        CacheCase{"EmptyFilesInBetweenNeedNothing", {{1, 1}, kNone, kNone, {1, 1}}, 64, {1}},
        CacheCase{"SameFileTwice", {{2, 3}, {2, 3}}, 64, {2, 3}},
        CacheCase{"NoRoomReadsEveryTime", {{0, 0}, {0, 0}, {0, 0}}, 0, {0, 0, 0}},
        // Group 1's next use (file 3) lies beyond group 0's (file 2): 1 goes.
        CacheCase{"FarthestNextUseIsLetGo", {{0, 0}, {1, 1}, {0, 0}, {1, 1}}, 1, {0, 1, 1}},
        // With room for two, group 2 (next needed at file 5) is the one let go.
        CacheCase{"NewGroupMayBeTheFarthest", {{0, 0}, {1, 1}, {2, 2}, {0, 0}, {1, 1}, {2, 2}}, 2, {0, 1, 2, 2}},
        // Group 5, needed next at file 2, displaces group 0, needed at file 4.
        CacheCase{"KeptGroupIsDisplacedByANearerOne", {{0, 0}, {5, 5}, {5, 5}, {9, 9}, {0, 0}}, 1, {0, 5, 9, 0}}),
    [](const auto& param) { return param.param.name; });

TEST(GroupCache, AGroupLargerThanTheBudgetIsNeverKept) {
  GroupCache cache(std::vector<GroupSpan>{{0, 0}, {0, 0}}, 10);
  cache.Return(0, std::make_shared<const GroupBuffer>(11, 1), 0);
  EXPECT_EQ(cache.KeptGroups(), 0u);
  EXPECT_FALSE(cache.Take(0));
}

TEST(GroupCache, AGroupNoLaterFileNeedsIsDropped) {
  GroupCache cache(std::vector<GroupSpan>{{0, 2}, {1, 1}}, 1000);
  for (int g = 0; g <= 2; ++g) cache.Return(g, std::make_shared<const GroupBuffer>(kGroup, 7), 0);
  EXPECT_EQ(cache.KeptGroups(), 1u);
  EXPECT_TRUE(cache.Take(1));
  EXPECT_FALSE(cache.Take(0));
  EXPECT_EQ(cache.KeptBytes(), 0u);
}

}  // namespace
}  // namespace kestrow
