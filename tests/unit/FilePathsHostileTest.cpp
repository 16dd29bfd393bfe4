// Path reconstruction on catalogues that a damaged or hostile disc can give:
// directory chains far deeper than any real volume has.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "volume/FileEntry.h"

namespace kestrow {
namespace {

// Directories 1..depth, each inside the one before it (1 is outermost, its
// parent missing), every name `nameBytes` long.
std::vector<DirEntry> Chain(std::uint32_t depth, std::size_t nameBytes) {
  std::vector<DirEntry> dirs;
  for (std::uint32_t id = 1; id <= depth; ++id) {
    std::string name(nameBytes, static_cast<char>('a' + id % 26));
    dirs.push_back(DirEntry{id, id - 1, name});
  }
  return dirs;
}

std::string Suffix(const std::vector<DirEntry>& dirs, std::size_t count) {
  std::string path;
  for (std::size_t i = dirs.size() - count; i < dirs.size(); ++i) path += dirs[i].name + ":";
  return path;
}

struct DeepCase {
  const char* label;
  std::uint32_t depth;
  std::size_t nameBytes;
  std::size_t keptFolders;  // innermost folders in the path
};

class DeepChainTest : public ::testing::TestWithParam<DeepCase> {};

TEST_P(DeepChainTest, KeepsTheInnermostFoldersThatFit) {
  const std::vector<DirEntry> dirs = Chain(GetParam().depth, GetParam().nameBytes);
  FileTable files(3);
  for (FileEntry& f : files) f.parentId = GetParam().depth;
  BuildFilePaths(files, dirs);
  for (const FileEntry& f : files) EXPECT_EQ(f.path, Suffix(dirs, GetParam().keptFolders));
}

INSTANTIATE_TEST_SUITE_P(
    Chains, DeepChainTest,
    ::testing::Values(
        // 256 folders of 3 bytes and ':' take 1,024 bytes exactly: all kept.
        DeepCase{"ExactlyFits", 256, 3, 256},
        DeepCase{"OneFolderTooMany", 257, 3, 256},
        // 31-byte names (the HFS limit): 32 folders take 1,024 bytes.
        DeepCase{"LongNames", 5000, 31, 32},
        // Empty names still cost their ':'.
        DeepCase{"EmptyNames", 100000, 0, 1024}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DeepChain, ManyFilesUnderAVeryDeepChainStayBounded) {
  // 5,000 files, each in its own folder of a 5,000-folder chain: without a
  // bound the paths would hold 25 million bytes of names, growing with the
  // square of the depth.
  const std::vector<DirEntry> dirs = Chain(5000, 1);
  FileTable files(5000);
  for (std::uint32_t i = 0; i < files.size(); ++i) files[i].parentId = i + 1;
  BuildFilePaths(files, dirs);
  for (std::uint32_t i = 0; i < files.size(); ++i) {
    ASSERT_EQ(files[i].path.size(), std::min<std::size_t>(2 * (i + 1), 1024)) << "file " << i;
  }
}

}  // namespace
}  // namespace kestrow
