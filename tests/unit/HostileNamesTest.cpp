// Names a hostile or unusual catalogue can hold, through a whole recovery
// job: control characters, names of dots, names that collide once reserved
// characters are replaced, and a folder chain deeper than the file system
// allows (its path keeps the innermost 1,024 bytes of folder names).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "HfsTestDisc.h"
#include "TempDir.h"
#include "KestrowCore.h"

namespace kestrow {
namespace {

namespace fs = std::filesystem;
using test::MacFile;
using test::ReadFile;
using test::TempDir;

std::string FolderName(int level) { return std::string(31, static_cast<char>('a' + level % 26)); }

std::string DeepFolders(int levels) {
  std::string path;
  for (int i = 0; i < levels; ++i) path += FolderName(i) + ":";
  return path;
}

TEST(HostileNames, EveryFileIsSavedUnderItsOwnNameOrReportedAndNothingLeavesTheFolder) {
  const std::string control = "c\x01" "d\x1b[2Je\x1f";
  const std::string dots(31, '.');
  const std::vector<MacFile> files = {
      {"a*b", "star"}, {"a/b", "slash"}, {"a?b", "question"}, {control, "control"}, {dots, "dots"},
      {DeepFolders(140) + "deep", "deep"}, {"plain", "plain"},
  };
  test::HfsDisc disc;
  std::string error;
  ASSERT_TRUE(test::MakeHfsDisc(files, mkdisc::DiscOptions{}, disc, error)) << error;

  CKestrowCore core(test::MakeDiscFromRaw(disc.raw));
  VolumeImage image;
  FileTable table;
  ASSERT_TRUE(core.LoadVolumeImage(image));
  ASSERT_TRUE(core.ScanCatalog(image, table));
  ASSERT_EQ(table.size(), files.size());

  TempDir dir;
  const fs::path dest = dir.path() / "dest";
  fs::create_directories(dest);
  ASSERT_TRUE(core.StartRecovery(table, dest.string() + "/"));
  core.WaitForRecovery();
  const RecoveryOutcome o = core.GetRecoveryOutcome();
  EXPECT_EQ(o.state, RecoveryState::kFinished);
  EXPECT_TRUE(o.Clean());
  EXPECT_EQ(o.written, files.size());

  // The three names that all become "a-b" are kept apart.
  const fs::path root = dest / "Disc";
  std::vector<std::string> collided;
  for (const char* name : {"a-b", "a-b (2)", "a-b (3)"}) collided.push_back(ReadFile(root / name));
  std::sort(collided.begin(), collided.end());
  EXPECT_EQ(collided, (std::vector<std::string>{"question", "slash", "star"}));
  EXPECT_EQ(ReadFile(root / control), "control");
  EXPECT_EQ(ReadFile(root / dots), "dots");
  EXPECT_EQ(ReadFile(root / "plain"), "plain");

  // 140 folders of 31 bytes would be a 4,480-byte path, more than the file
  // system takes: the file is saved under the innermost 32 of them.
  fs::path deep = dest;
  for (int level = 140 - 32; level < 140; ++level) deep /= FolderName(level);
  EXPECT_EQ(ReadFile(deep / "deep"), "deep");

  std::vector<std::string> beside;
  for (const auto& item : fs::directory_iterator(dir.path())) beside.push_back(item.path().filename().string());
  EXPECT_EQ(beside, std::vector<std::string>{"dest"});
}

}  // namespace
}  // namespace kestrow
