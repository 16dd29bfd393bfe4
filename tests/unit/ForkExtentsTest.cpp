// Fragmented forks: the runs of a fork's bytes from all its extents, their
// groups, and the B-tree files (extents overflow file, catalogue node map)
// read from a volume image built here node by node.
#include <gtest/gtest.h>

#include <cstring>

#include "recovery/DataLocation.h"
#include "recovery/JobLayout.h"
#include "text/ByteReader.h"
#include "volume/BTreeFile.h"
#include "volume/CatalogScan.h"
#include "volume/ExtentsOverflow.h"

namespace kestrow {
namespace {

using Extents = std::vector<ExtentDescriptor>;

struct PiecesCase {
  const char* what;
  Extents record;    // the catalogue record's three
  Extents overflow;  // from the overflow file
  std::uint32_t length;
  std::vector<ForkPiece> expected;
};

class ForkPiecesTest : public testing::TestWithParam<PiecesCase> {};

TEST_P(ForkPiecesTest, RunsFollowTheExtentsInForkOrder) {
  const PiecesCase& c = GetParam();
  FileEntry entry;
  std::copy(c.record.begin(), c.record.end(), entry.rsrcExtents.begin());
  entry.rsrcOverflowExtents = c.overflow;
  entry.rsrcLogicalLength = c.length;
  EXPECT_EQ(ForkPieces(entry, 512, Fork::kResource), c.expected);
}

constexpr std::int64_t kBlock0 = 9728;
INSTANTIATE_TEST_SUITE_P(
    Forks, ForkPiecesTest,
    testing::Values(
        // Entries that give no block count are read on from the first start block, as always.
        PiecesCase{"no counts", {{7, 0}}, {}, 5000, {{0, kBlock0 + 7 * 512, 5000}}},
        PiecesCase{"one extent", {{7, 10}}, {}, 5000, {{0, kBlock0 + 7 * 512, 5000}}},
        PiecesCase{"three, the last cut to the length",
                   {{30, 2}, {10, 1}, {50, 4}}, {}, 2000,
                   {{0, kBlock0 + 30 * 512, 1024}, {1024, kBlock0 + 10 * 512, 512}, {1536, kBlock0 + 50 * 512, 464}}},
        PiecesCase{"overflow after three full ones",
                   {{1, 1}, {3, 1}, {5, 1}}, {{9, 2}, {2, 1}}, 2560,
                   {{0, kBlock0 + 512, 512}, {512, kBlock0 + 3 * 512, 512}, {1024, kBlock0 + 5 * 512, 512},
                    {1536, kBlock0 + 9 * 512, 1024}}},
        PiecesCase{"an empty extent ends the record; no overflow after it",
                   {{1, 1}, {0, 0}, {5, 1}}, {{9, 2}}, 1536, {{0, kBlock0 + 512, 512}}},
        PiecesCase{"extents short of the length: the rest lies in no run",
                   {{4, 1}, {8, 1}}, {}, 4000, {{0, kBlock0 + 4 * 512, 512}, {512, kBlock0 + 8 * 512, 512}}}),
    [](const auto& test) {
      std::string name = test.param.what;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST(PlaceFork, RunsOutsideTheVolumeAreUnplacedAndGroupsAreASet) {
  JobLayout layout;
  layout.allocBlockSize = 512;
  layout.boundaries = {0, 1 << 20, 2 << 20, 3 << 20};
  layout.maxGroups = 10;
  layout.volumeEnd = kBlock0 + 5000 * 512;
  FileEntry entry;
  // Group 2, group 0, past the volume's end, group 0 again.
  entry.dataExtents = {{{4200, 2}, {1, 1}, {6000, 1}}};
  entry.dataOverflowExtents = {{3, 1}};
  entry.dataLogicalLength = 5 * 512 - 100;
  const std::optional<ForkPlacement> placement = PlaceFork(entry, layout);
  ASSERT_TRUE(placement);
  EXPECT_EQ(placement->groups, (std::vector<int>{0, 2}));
  ASSERT_EQ(placement->pieces.size(), 3u);
  EXPECT_EQ(placement->unplaced, (std::vector<ByteSpan>{{1536, 2048}}));
  EXPECT_EQ(placement->FirstGroupIndex(placement->pieces[0]), 1u);
  EXPECT_EQ(placement->FirstGroupIndex(placement->pieces[2]), 0u);
  // Not one run inside the volume: nothing to read.
  entry.dataExtents = {{{6000, 9}, {7000, 1}, {0, 0}}};
  entry.dataOverflowExtents.clear();
  EXPECT_FALSE(PlaceFork(entry, layout));
}

// A volume image of 512-byte allocation blocks: the extents file in blocks
// 0-7, the catalogue in blocks 8-23.
using Node = std::array<std::uint8_t, kBTreeNodeSize>;
using Bytes = std::vector<std::uint8_t>;

Node MakeNode(std::uint8_t type, std::uint32_t next, const std::vector<Bytes>& records) {
  Node node{};
  PutBe32(&node[0], next);
  node[8] = type;
  PutBe16(&node[10], static_cast<std::uint16_t>(records.size()));
  std::size_t at = 14;
  for (std::size_t i = 0; i <= records.size(); ++i) {
    PutBe16(&node[kBTreeNodeSize - 2 - 2 * i], static_cast<std::uint16_t>(at));
    if (i < records.size()) {
      std::copy(records[i].begin(), records[i].end(), node.begin() + static_cast<std::ptrdiff_t>(at));
      at += records[i].size();
    }
  }
  return node;
}

Node HeaderNode(std::uint32_t firstLeaf, std::uint32_t nodes, Bytes map, std::uint32_t mapNode = 0) {
  Bytes header(106, 0);
  PutBe32(&header[10], firstLeaf);
  PutBe16(&header[18], kBTreeNodeSize);
  PutBe32(&header[22], nodes);
  return MakeNode(kHeaderNodeType, mapNode, {header, Bytes(128, 0), map});
}

Bytes ExtentRecord(std::uint8_t fork, std::uint32_t file, std::uint16_t fabn, Extents extents) {
  Bytes record(20, 0);
  record[0] = 7;
  record[1] = fork;
  PutBe32(&record[2], file);
  PutBe16(&record[6], fabn);
  for (std::size_t i = 0; i < extents.size(); ++i) {
    PutBe16(&record[8 + 4 * i], static_cast<std::uint16_t>(extents[i].startBlock));
    PutBe16(&record[10 + 4 * i], static_cast<std::uint16_t>(extents[i].blockCount));
  }
  return record;
}

struct Volume {
  Bytes image = Bytes(0x6200 + 24 * 512, 0);
  MasterDirectoryBlock mdb;
  Volume() {
    std::memcpy(&mdb.bytes[0], "BD", 2);
    PutBe32(&mdb.bytes[20], 512);
    PutBe16(&mdb.bytes[136], 8);  // drXTExtRec: blocks 0-7
    PutBe16(&mdb.bytes[150], 8);  // drCTExtRec: blocks 8-15
    PutBe16(&mdb.bytes[152], 16);
    std::copy(mdb.bytes.begin(), mdb.bytes.end(), image.begin() + 0x4000);
  }
  void Put(std::size_t block, const Node& node) {
    std::copy(node.begin(), node.end(), image.begin() + static_cast<std::ptrdiff_t>(0x6200 + block * 512));
  }
};

struct OverflowCase {
  const char* what;
  std::uint32_t secondLeafNext;  // where the second leaf links to
  std::uint8_t secondLeafType;
  bool readable;
  Extents expected;  // the data fork extents of file 20 past its record's three
};

class OverflowTest : public testing::TestWithParam<OverflowCase> {};

TEST_P(OverflowTest, FollowsTheLeafChainSafely) {
  const OverflowCase& c = GetParam();
  Volume v;
  v.Put(0, HeaderNode(1, 8, Bytes(32, 0xFF)));
  v.Put(1, MakeNode(kLeafNode, 2, {ExtentRecord(kDataForkType, 20, 6, {{100, 2}, {90, 1}, {80, 1}}),
                                   ExtentRecord(kResourceForkType, 20, 6, {{300, 9}})}));
  v.Put(2, MakeNode(c.secondLeafType, c.secondLeafNext, {ExtentRecord(kDataForkType, 20, 10, {{200, 5}})}));
  const ExtentsOverflow overflow = ReadExtentsOverflow(v.image, v.mdb);
  EXPECT_EQ(overflow.readable, c.readable);
  const std::array<ExtentDescriptor, 3> record{{{1, 2}, {5, 2}, {9, 2}}};
  EXPECT_EQ(OverflowExtents(overflow, kDataForkType, 20, record, 1000), c.expected);
  // A fork its record covers needs nothing more.
  EXPECT_TRUE(OverflowExtents(overflow, kDataForkType, 20, record, 6).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Chains, OverflowTest,
    testing::Values(OverflowCase{"chain", 0, kLeafNode, true, {{100, 2}, {90, 1}, {80, 1}, {200, 5}}},
                    OverflowCase{"loop", 1, kLeafNode, false, {{100, 2}, {90, 1}, {80, 1}, {200, 5}}},
                    OverflowCase{"index", 0, kIndexNode, false, {{100, 2}, {90, 1}, {80, 1}}},
                    OverflowCase{"outside", 99, kLeafNode, false, {{100, 2}, {90, 1}, {80, 1}, {200, 5}}}),
    [](const auto& test) { return std::string(test.param.what); });

struct MapCase {
  const char* what;
  std::uint32_t mapNode;  // the header's link to a map node (0: none)
  std::uint8_t mapNodeType;
  std::vector<bool> free;  // of nodes 0-9
};

class NodeMapTest : public testing::TestWithParam<MapCase> {};

TEST_P(NodeMapTest, FreeNodesComeFromTheHeaderAndMapNodes) {
  const MapCase& c = GetParam();
  Volume v;
  // The header's map covers nodes 0-7 (0xD0: nodes 0, 1 and 3 in use);
  // the map node continues with nodes 8-15 (0x80: node 8).
  v.Put(8, HeaderNode(1, 10, {0xD0}, c.mapNode));
  v.Put(9, MakeNode(kMapNode, 0, {{0x80}}));
  v.Put(10, MakeNode(kLeafNode, 0, {}));
  const BTreeFile catalog = BTreeFile::Catalog(v.image, v.mdb);
  EXPECT_EQ(catalog.NodeAt(0x6200 + 8 * 512), 0u);
  EXPECT_EQ(catalog.NodeAt(0x6200 + 11 * 512), 3u);
  EXPECT_FALSE(catalog.NodeAt(0x6200 + 7 * 512));  // the extents file's
  const std::optional<BTreeHeader> header = ReadBTreeHeader(catalog);
  ASSERT_TRUE(header);
  std::vector<bool> free;
  for (std::uint32_t n = 0; n < 10; ++n) free.push_back(header->IsFree(n));
  EXPECT_EQ(free, c.free);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, NodeMapTest,
    testing::Values(MapCase{"linked", 1, kMapNode, {0, 0, 1, 0, 1, 1, 1, 1, 0, 1}},
                    // A map that cannot be read whole marks no node free.
                    MapCase{"unlinked", 0, kMapNode, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                    MapCase{"notAMapNode", 2, kMapNode, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}),
    [](const auto& test) { return std::string(test.param.what); });

TEST(BTreeFile, ACatalogGrownPastItsThreeExtentsContinuesInTheOverflowFile) {
  for (const bool recorded : {true, false}) {
    Volume v;
    PutBe16(&v.mdb.bytes[152], 8);          // drCTExtRec: blocks 8-15 only
    PutBe32(&v.mdb.bytes[146], 16 * 512);   // drCTFlSize: 16 blocks
    std::copy(v.mdb.bytes.begin(), v.mdb.bytes.end(), v.image.begin() + 0x4000);
    v.Put(0, HeaderNode(1, 8, Bytes(1, 0xC0)));
    v.Put(1, MakeNode(kLeafNode, 0, {ExtentRecord(kDataForkType, recorded ? 4 : 5, 8, {{16, 8}})}));
    const BTreeFile catalog = BTreeFile::Catalog(v.image, v.mdb);
    EXPECT_EQ(catalog.Whole(), recorded);
    EXPECT_EQ(catalog.NodeAt(0x6200 + 17 * 512), recorded ? std::optional<std::uint32_t>(9) : std::nullopt);
  }
}

// A file record named "f" in folder 2 with file ID `id`.
Bytes FileRecord(std::uint32_t id) {
  Bytes record(8 + 102, 0);
  record[0] = 7;  // key length: odd, so the data follows the key at once
  PutBe32(&record[2], 2);
  record[6] = 1;
  record[7] = 'f';
  record[8] = 2;  // a file record
  PutBe32(&record[8 + 20], id);
  return record;
}

std::vector<std::uint32_t> Ids(const FileTable& files, bool deleted) {
  std::vector<std::uint32_t> ids;
  for (const FileEntry& f : files) {
    EXPECT_EQ(f.deleted, deleted);
    ids.push_back(f.fileId);
  }
  return ids;
}

// Extents tree: its header and a node whose record reads as a file.
// Catalogue: nodes 0-2 and 4 in use, node 3 free (0xE8).
Volume CatalogWithAFreedNode() {
  Volume v;
  v.Put(0, HeaderNode(0, 8, Bytes(1, 0x80)));
  v.Put(1, MakeNode(kLeafNode, 0, {FileRecord(40)}));
  v.Put(8, HeaderNode(1, 8, {0xE8}));
  v.Put(9, MakeNode(kLeafNode, 2, {FileRecord(30)}));
  v.Put(10, MakeNode(kLeafNode, 0, {FileRecord(30), FileRecord(31)}));   // 30 again
  v.Put(11, MakeNode(kLeafNode, 0, {FileRecord(32), FileRecord(31)}));   // freed: 31 is stale
  v.Put(12, MakeNode(kIndexNode, 0, {FileRecord(33)}));
  return v;
}

TEST(CatalogScan, ReadsOnlyTheCatalogsLeafNodesAndKeepsFreedNodesApart) {
  const Volume v = CatalogWithAFreedNode();
  const CatalogRecords records = ScanCatalogRecords(v.image);
  EXPECT_TRUE(records.treeKnown);
  EXPECT_EQ(Ids(records.files, false), (std::vector<std::uint32_t>{30, 31}));
  EXPECT_EQ(Ids(records.deletedFiles, true), (std::vector<std::uint32_t>{32}));

  // A catalogue header that cannot be read: every node counts, as always,
  // but a file ID still only once.
  const CatalogRecords before = ScanCatalogRecords(v.image, {{0x6200 + 8 * 512, 0x6200 + 9 * 512}});
  EXPECT_FALSE(before.treeKnown);
  EXPECT_EQ(Ids(before.files, false), (std::vector<std::uint32_t>{40, 30, 31, 32, 33}));
}

TEST(CatalogScan, OnlyUnreadableNodesTheCatalogueUsesCountAsLost) {
  const Volume v = CatalogWithAFreedNode();
  // The block that could not be read, and whether its loss may have taken files.
  const std::vector<std::pair<std::size_t, std::size_t>> cases = {
      {1, 0},    // a node of the extents file
      {11, 0},   // the catalogue's freed node: only deleted files were there
      {10, 1},   // a node in use
      {12, 1}};  // an index node in use, whose kind cannot be seen once it is lost
  for (const auto& [block, lost] : cases) {
    const std::size_t at = 0x6200 + block * 512;
    EXPECT_EQ(ScanCatalogRecords(v.image, {{at + 100, at + 101}}).lostNodes, lost) << "block " << block;
  }
}

TEST(AddOverflowExtents, AForkTakesNoMoreExtentsThanItsPhysicalLengthNeeds) {
  Volume v;
  v.Put(0, HeaderNode(1, 8, Bytes(32, 0xFF)));
  v.Put(1, MakeNode(kLeafNode, 0, {ExtentRecord(kDataForkType, 20, 6, {{100, 2}, {90, 1}, {80, 1}}),
                                   ExtentRecord(kDataForkType, 20, 10, {{200, 5}})}));
  const ExtentsOverflow overflow = ReadExtentsOverflow(v.image, v.mdb);
  // Physical length in blocks -> the overflow extents taken; the logical
  // length (claiming 4 GiB) plays no part.
  const std::vector<std::pair<std::uint32_t, std::size_t>> cases = {{6, 0}, {7, 3}, {10, 3}, {11, 4}};
  for (const auto& [blocks, taken] : cases) {
    FileTable files(1);
    files[0].fileId = 20;
    files[0].dataExtents = {{{1, 2}, {5, 2}, {9, 2}}};
    files[0].dataLogicalLength = 0xFFFFFE00;
    files[0].dataPhysicalLength = blocks * 512;
    AddOverflowExtents(files, overflow, 512);
    EXPECT_EQ(files[0].dataOverflowExtents.size(), taken) << blocks << " blocks";
  }
}

}  // namespace
}  // namespace kestrow
