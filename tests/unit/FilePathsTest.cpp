// Path reconstruction from parent IDs.
#include <gtest/gtest.h>

#include "volume/FileEntry.h"

namespace kestrow {
namespace {

FileEntry File(std::uint32_t parentId, std::string name) {
  FileEntry entry;
  entry.parentId = parentId;
  entry.name = std::move(name);
  return entry;
}

struct PathCase {
  const char* label;
  std::vector<DirEntry> dirs;
  std::uint32_t parentId;
  std::string expectedPath;
};

class FilePathsTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(FilePathsTest, BuildsTheAncestorChain) {
  FileTable files{File(GetParam().parentId, "f")};
  BuildFilePaths(files, GetParam().dirs);
  EXPECT_EQ(files[0].path, GetParam().expectedPath);
  EXPECT_EQ(files[0].DisplayPath(), GetParam().expectedPath + "f");
}

const std::vector<DirEntry> kTree = {{2, 1, "Disk"}, {16, 2, "A"}, {17, 16, "B"}};

INSTANTIATE_TEST_SUITE_P(
    Chains, FilePathsTest,
    ::testing::Values(
        PathCase{"InRoot", kTree, 2, "Disk:"},
        PathCase{"TwoLevelsDown", kTree, 17, "Disk:A:B:"},
        PathCase{"MissingParent", kTree, 99, ""},
        PathCase{"NoDirectories", {}, 2, ""},
        PathCase{"GapInTheMiddle", {{2, 1, "Disk"}, {17, 16, "B"}}, 17, "B:"},
        PathCase{"DuplicateIdFirstWins", {{2, 1, "Disk"}, {16, 2, "First"}, {16, 2, "Second"}}, 16, "Disk:First:"},
        PathCase{"DuplicateIdFirstWinsForParents", {{16, 2, "A"}, {2, 1, "Disk"}, {2, 1, "Other"}}, 16, "Disk:A:"},
        PathCase{"NameWithColonKept", {{2, 1, "Disk"}, {16, 2, "a:b"}}, 16, "Disk:a:b:"},
        PathCase{"NameUpToItsNul", {{2, 1, std::string("Di\0sk", 5)}}, 2, "Di:"},
        PathCase{"SelfLoopEnds", {{5, 5, "Loop"}}, 5, "Loop:"},
        PathCase{"TwoCycleEnds", {{5, 6, "X"}, {6, 5, "Y"}}, 5, "Y:X:"},
        PathCase{"TailIntoCycle", {{7, 5, "Tail"}, {5, 6, "X"}, {6, 5, "Y"}}, 7, "Y:X:Tail:"}),
    [](const auto& info) { return info.param.label; });

TEST(FilePaths, EveryRowGetsItsOwnPathInTableOrder) {
  FileTable files{File(17, "one"), File(2, "two"), File(99, "three")};
  BuildFilePaths(files, kTree);
  EXPECT_EQ(files[0].DisplayPath(), "Disk:A:B:one");
  EXPECT_EQ(files[1].DisplayPath(), "Disk:two");
  EXPECT_EQ(files[2].DisplayPath(), "three");
}

}  // namespace
}  // namespace kestrow
