// The linear catalogue scan over hand-made nodes.
#include <gtest/gtest.h>

#include "TestDisc.h"
#include "KestrowCore.h"
#include "volume/CatalogScan.h"

namespace kestrow {
namespace {

using test::DirectoryData;
using test::FileData;
using test::FileFields;
using test::MakeVolumeImage;
using test::NodeBuilder;
using Node = std::vector<std::uint8_t>;

Node HeaderNode() { return NodeBuilder(1).bytes(); }
Node EmptyNode() { return Node(512, 0); }

// Files of distinct IDs, in whatever node they are.
Node FileNode(std::initializer_list<std::string> names, std::uint32_t parent = 2) {
  static std::uint32_t id = 100;
  NodeBuilder node;
  std::size_t offset = 14;
  for (const std::string& name : names) {
    node.AddRecord(offset, 37, parent, name, FileData({.fileId = id++}));
    offset += 140;
  }
  return node.bytes();
}

std::vector<std::string> Names(const CatalogRecords& records) {
  std::vector<std::string> names;
  for (const auto& f : records.files) names.push_back(f.name);
  return names;
}

TEST(CatalogScan, HeaderNodesCountAndTheThirdEndsTheScan) {
  const auto image = MakeVolumeImage({HeaderNode(), FileNode({"a"}), HeaderNode(), FileNode({"b"}),
                                      HeaderNode(), FileNode({"c"})});
  EXPECT_EQ(Names(ScanCatalogRecords(image)), (std::vector<std::string>{"a", "b"}));
}

TEST(CatalogScan, PaddingSkipsFourBlocks) {
  Node padding(512, 0);
  std::memcpy(padding.data(), "pad*pad*", 8);
  // The three blocks after the padding block are never read as nodes.
  const auto image = MakeVolumeImage({padding, FileNode({"skipped1"}), FileNode({"skipped2"}),
                                      FileNode({"skipped3"}), FileNode({"read"})});
  EXPECT_EQ(Names(ScanCatalogRecords(image)), (std::vector<std::string>{"read"}));
}

TEST(CatalogScan, PaddingThatIsAlsoAHeaderCountsAsHeader) {
  NodeBuilder padHeader(1);
  std::memcpy(padHeader.data(), "pad*pad*", 8);
  const auto image = MakeVolumeImage({padHeader.bytes(), FileNode({"next"}), HeaderNode(),
                                      HeaderNode(), FileNode({"after third"})});
  EXPECT_EQ(Names(ScanCatalogRecords(image)), (std::vector<std::string>{"next"}));
}

TEST(CatalogScan, RecordCountIsTheLowByteOnly) {
  Node node = FileNode({"a", "b", "c"});
  node[10] = 0x01;  // high byte plays no part
  node[11] = 0x03;
  EXPECT_EQ(ScanCatalogRecords(MakeVolumeImage({node})).files.size(), 3u);
}

TEST(CatalogScan, AtMost128RecordsOfANode) {
  // 200 records claimed, all offsets pointing at one small directory record.
  NodeBuilder node;
  node.AddRecord(14, 7, 1, "d", DirectoryData(5));
  for (std::size_t j = 0; j < 200; ++j) node.SetOffset(j, 14);
  node.SetRecordCount(0, 200);
  // Offsets of records 128+ would overlap the table: only 128 are read.
  EXPECT_EQ(ScanCatalogRecords(MakeVolumeImage({node.bytes()})).dirs.size(), 128u);
}

struct KeyCase {
  std::uint8_t keyLength;
  std::size_t expectedDataOffset;
};

class KeyLengthTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyLengthTest, DataStartsOnTheEvenByteAfterTheKey) {
  NodeBuilder node;
  const std::size_t dataOffset = node.AddRecord(14, GetParam().keyLength, 2, "f", FileData({.fileId = 42}));
  EXPECT_EQ(dataOffset, GetParam().expectedDataOffset);
  const auto records = ScanCatalogRecords(MakeVolumeImage({node.bytes()}));
  ASSERT_EQ(records.files.size(), 1u);
  EXPECT_EQ(records.files[0].fileId, 42u);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyLengthTest,
                         ::testing::Values(KeyCase{37, 52}, KeyCase{36, 52}, KeyCase{7, 22}, KeyCase{8, 24}));

TEST(CatalogScan, FileFieldsComeFromTheirOffsets) {
  std::vector<std::uint8_t> data(102, 0);
  data[0] = 2;
  std::memcpy(&data[4], "APPL", 4);
  std::memcpy(&data[8], "MSWD", 4);
  for (std::size_t i = 20; i < 102; ++i) data[i] = static_cast<std::uint8_t>(i);
  NodeBuilder node;
  node.AddRecord(14, 37, 0x01020304, "Letter", data);
  const auto records = ScanCatalogRecords(MakeVolumeImage({node.bytes()}));
  ASSERT_EQ(records.files.size(), 1u);
  const FileEntry& f = records.files[0];
  EXPECT_EQ(f.parentId, 0x01020304u);
  EXPECT_EQ(f.fileId, 0x14151617u);
  EXPECT_EQ(f.dataStartBlock, 0x1819u);
  EXPECT_EQ(f.dataLogicalLength, 0x1A1B1C1Du);
  EXPECT_EQ(f.dataPhysicalLength, 0x1E1F2021u);
  EXPECT_EQ(f.rsrcStartBlock, 0x2223u);
  EXPECT_EQ(f.rsrcLogicalLength, 0x24252627u);
  EXPECT_EQ(f.rsrcPhysicalLength, 0x28292A2Bu);
  EXPECT_EQ(f.createDate, 0x2C2D2E2Fu);
  EXPECT_EQ(f.modifyDate, 0x30313233u);
  EXPECT_EQ(f.clumpSize, 0x4849u);
  EXPECT_EQ(f.dataExtents[0].startBlock, 0x4A4Bu);
  EXPECT_EQ(f.dataExtents[2].blockCount, 0x5455u);
  EXPECT_EQ(f.rsrcExtents[0].startBlock, 0x5657u);
  EXPECT_EQ(f.rsrcExtents[2].blockCount, 0x6061u);
  EXPECT_STREQ(f.fileType.data(), "APPL");
  EXPECT_STREQ(f.creator.data(), "MSWD");
  EXPECT_TRUE(f.path.empty());
}

struct NameCase {
  std::string stored;
  bool kept;
  std::string shown;
};

class NameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTest, DesktopFilesDroppedAndCarriageReturnsReplaced) {
  NodeBuilder node;
  node.AddRecord(14, 37, 2, GetParam().stored, FileData({}));
  const auto records = ScanCatalogRecords(MakeVolumeImage({node.bytes()}));
  ASSERT_EQ(records.files.size(), GetParam().kept ? 1u : 0u);
  if (GetParam().kept) EXPECT_EQ(records.files[0].name, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameTest,
    ::testing::Values(NameCase{"Desktop DB", false, ""}, NameCase{"Desktop DF", false, ""},
                      NameCase{"Desktop DBx", true, "Desktop DBx"}, NameCase{"desktop db", true, "desktop db"},
                      NameCase{std::string("Desktop DB\0x", 12), false, ""},
                      NameCase{"A\rB", true, "A-B"}, NameCase{"\r\r", true, "--"},
                      NameCase{std::string("ab\0cd", 5), true, "ab"}));

TEST(CatalogScan, DirectoryNamesGetCarriageReturnsReplacedToo) {
  NodeBuilder node;
  node.AddRecord(14, 37, 1, "A\rB", DirectoryData(16));
  const auto records = ScanCatalogRecords(MakeVolumeImage({node.bytes()}));
  ASSERT_EQ(records.dirs.size(), 1u);
  EXPECT_EQ(records.dirs[0].name, "A-B");
  EXPECT_EQ(records.dirs[0].dirId, 16u);
  EXPECT_EQ(records.dirs[0].parentId, 1u);
}

TEST(CatalogScan, OtherRecordTypesAndEmptyNodesAddNothing) {
  NodeBuilder node;
  std::vector<std::uint8_t> thread(46, 0);
  thread[0] = 3;
  node.AddRecord(14, 7, 16, "", thread);
  thread[0] = 4;
  node.AddRecord(80, 7, 16, "", thread);
  const auto records = ScanCatalogRecords(MakeVolumeImage({node.bytes(), EmptyNode(), FileNode({"x"})}));
  EXPECT_TRUE(records.dirs.empty());
  EXPECT_EQ(Names(records), (std::vector<std::string>{"x"}));
}

TEST(CatalogScan, RecordsThatWouldLeaveTheirNodeAreSkipped) {
  // Each record below would have to be read past byte 511 of its node.
  NodeBuilder node;
  node.AddRecord(14, 37, 2, "ok", FileData({.fileId = 1}));
  node.SetOffset(1, 511);                     // key runs off the node
  node.SetOffset(2, 0xFFFF);                  // offset beyond the node
  node.data()[450] = 37;                      // file record whose data would end past 511
  node.data()[450 + 6] = 1;
  node.data()[450 + 38] = 2;
  node.SetOffset(3, 450);
  node.data()[300] = 7;                       // name length 250 runs off the node
  node.data()[306] = 250;
  node.SetOffset(4, 300);
  node.SetRecordCount(0, 5);
  const auto records = ScanCatalogRecords(MakeVolumeImage({node.bytes()}));
  EXPECT_EQ(Names(records), (std::vector<std::string>{"ok"}));
}

TEST(CatalogScan, ImageEndingRightAfterANodeEndsTheScan) {
  const auto image = MakeVolumeImage({FileNode({"a", "b"})});
  EXPECT_EQ(Names(ScanCatalogRecords(image)), (std::vector<std::string>{"a", "b"}));
}

TEST(CatalogScan, CatalogueOrderIsNodeThenRecordOrder) {
  const auto image = MakeVolumeImage({FileNode({"n1r0", "n1r1"}), FileNode({"n2r0"})});
  EXPECT_EQ(Names(ScanCatalogRecords(image)), (std::vector<std::string>{"n1r0", "n1r1", "n2r0"}));
}

TEST(ScanCatalog, FailsWithoutMasterDirectoryBlockOrCatalogueRoom) {
  CKestrowCore core(test::MakeDisc({}));
  FileTable files;
  VolumeImage noMdb(30000, 0);
  EXPECT_FALSE(core.ScanCatalog(noMdb, files));
  EXPECT_EQ(core.GetErrorState(), kErrorReadOrFormat);

  CKestrowCore core2(test::MakeDisc({}));
  VolumeImage shortImage(0x6200 - 1, 0);
  shortImage[0x4000] = 'B';
  shortImage[0x4001] = 'D';
  EXPECT_FALSE(core2.ScanCatalog(shortImage, files));
  EXPECT_EQ(core2.GetErrorState(), kErrorReadOrFormat);
  EXPECT_TRUE(files.empty());
}

TEST(ScanCatalog, BuildsPathsAndSucceedsOnAnEmptyCatalogue) {
  NodeBuilder dirs;
  dirs.AddRecord(14, 37, 1, "Disk", DirectoryData(2));
  dirs.AddRecord(100, 37, 2, "Docs", DirectoryData(16));
  NodeBuilder files;
  files.AddRecord(14, 37, 16, "Letter", FileData({.dataLength = 1000, .rsrcLength = 300}));
  CKestrowCore core(test::MakeDisc({}));
  FileTable table;
  ASSERT_TRUE(core.ScanCatalog(MakeVolumeImage({dirs.bytes(), files.bytes()}), table));
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].DisplayPath(), "Disk:Docs:Letter");
  EXPECT_EQ(table[0].ApproxSize(), 1300);

  FileTable empty;
  EXPECT_TRUE(core.ScanCatalog(MakeVolumeImage({}), empty));
  EXPECT_TRUE(empty.empty());
}

}  // namespace
}  // namespace kestrow
