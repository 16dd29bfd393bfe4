#include "volume/CatalogScan.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "volume/MasterDirectoryBlock.h"
#include "text/ByteReader.h"
#include "volume/BTreeFile.h"
#include "volume/ExtentsOverflow.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::size_t kNodeSize = 512;
constexpr std::size_t kNodeTypeOffset = 8;
constexpr std::uint8_t kHeaderNode = 1;
constexpr std::size_t kRecordCountOffset = 11;  // low byte of ndNRecs
constexpr std::size_t kMaxRecords = 128;
constexpr std::size_t kHeaderNodesBeforeEnd = 3;  // the third header node ends the scan
constexpr std::size_t kPaddingSkip = 2048;
constexpr char kPadding[] = "pad*pad*";

constexpr std::uint8_t kDirectoryRecord = 1;
constexpr std::uint8_t kFileRecord = 2;
constexpr std::size_t kDirectoryDataSize = 10;  // through dirDirID
constexpr std::size_t kFileDataSize = 98;       // through filRExtRec

// A record of a node: its key and the start of its data, both inside the node.
struct RecordView {
  std::uint32_t parentId;
  std::string name;
  ByteReader data;
};

std::optional<RecordView> LocateRecord(const ByteReader& node, std::size_t index) {
  const auto offset = node.be16(kNodeSize - 2 - 2 * index);
  if (!offset) return std::nullopt;
  const auto keyLength = node.u8(*offset);
  const auto parentId = node.be32(*offset + 2);
  const auto nameLength = node.u8(*offset + 6);
  if (!keyLength || !parentId || !nameLength) return std::nullopt;
  const auto name = node.sub(*offset + 7, *nameLength);
  if (!name) return std::nullopt;
  // The data follows the key, on an even byte: + 1 more when the length is even.
  const std::size_t dataOffset = *offset + *keyLength + 1 + (*keyLength % 2 == 0 ? 1 : 0);
  const auto data = node.sub(dataOffset, node.size() - std::min(dataOffset, node.size()));
  if (!data || data->size() == 0) return std::nullopt;
  return RecordView{*parentId, CatalogName(name->bytes()), *data};
}

std::array<char, 5> FourCharCode(const ByteReader& data, std::size_t offset) {
  std::array<char, 5> code{};
  for (std::size_t i = 0; i < 4; ++i) code[i] = static_cast<char>(*data.u8(offset + i));
  return code;
}

ExtentDescriptor Extent(const ByteReader& data, std::size_t offset) {
  return ExtentDescriptor{*data.be16(offset), *data.be16(offset + 2)};
}

FileEntry ReadFileRecord(const RecordView& record) {
  const ByteReader& d = record.data;
  FileEntry entry;
  entry.fileId = *d.be32(20);
  entry.parentId = record.parentId;
  entry.dataStartBlock = *d.be16(24);
  entry.dataLogicalLength = *d.be32(26);
  entry.dataPhysicalLength = *d.be32(30);
  entry.rsrcStartBlock = *d.be16(34);
  entry.rsrcLogicalLength = *d.be32(36);
  entry.rsrcPhysicalLength = *d.be32(40);
  entry.createDate = *d.be32(44);
  entry.modifyDate = *d.be32(48);
  entry.backupDate = *d.be32(52);
  entry.clumpSize = *d.be16(72);
  for (std::size_t i = 0; i < 3; ++i) {
    entry.dataExtents[i] = Extent(d, 74 + 4 * i);
    entry.rsrcExtents[i] = Extent(d, 86 + 4 * i);
  }
  entry.name = record.name;
  entry.fileType = FourCharCode(d, 4);
  entry.creator = FourCharCode(d, 8);
  std::copy_n(d.bytes().begin() + 4, entry.finderInfo.size(), entry.finderInfo.begin());
  std::copy_n(d.bytes().begin() + 56, entry.extendedFinderInfo.size(), entry.extendedFinderInfo.begin());
  return entry;
}

bool IsDesktopFile(const std::string& name) { return name == "Desktop DB" || name == "Desktop DF"; }

// The records kept from a set of nodes: each file ID once (the first met),
// so that a node that repeats one file record, or a catalogue that repeats
// one node, adds no more files.
struct RecordLists {
  std::vector<DirEntry>& dirs;
  FileTable& files;
  std::unordered_set<std::uint32_t> fileIds;
};

void ScanRecordNode(const ByteReader& node, RecordLists& out) {
  const std::size_t count = std::min<std::size_t>(*node.u8(kRecordCountOffset), kMaxRecords);
  for (std::size_t j = 0; j < count; ++j) {
    const std::optional<RecordView> record = LocateRecord(node, j);
    if (!record) continue;
    const std::uint8_t type = *record->data.u8(0);
    if (type == kDirectoryRecord && record->data.has(0, kDirectoryDataSize)) {
      out.dirs.push_back(DirEntry{*record->data.be32(6), record->parentId, record->name});
    } else if (type == kFileRecord && record->data.has(0, kFileDataSize)) {
      if (IsDesktopFile(record->name) || !out.fileIds.insert(*record->data.be32(20)).second) continue;
      out.files.push_back(ReadFileRecord(*record));
    }
  }
}

// The catalogue B-tree, when the master directory block leads to its
// header node: which nodes of the image are its nodes, and which are free.
struct CatalogTree {
  BTreeFile file;
  BTreeHeader header;
};

std::optional<CatalogTree> FindCatalogTree(std::span<const std::uint8_t> image,
                                           const std::vector<ByteSpan>& unreadable) {
  const ByteReader reader(image);
  const auto bytes = reader.sub(format::kMdbOffset, format::kMdbSize);
  if (!bytes || !bytes->matches(0, "BD") ||
      Overlaps(unreadable, format::kMdbOffset, format::kMdbOffset + format::kMdbSize)) {
    return std::nullopt;
  }
  MasterDirectoryBlock mdb;
  std::copy(bytes->bytes().begin(), bytes->bytes().end(), mdb.bytes.begin());
  BTreeFile file = BTreeFile::Catalog(image, mdb, unreadable);
  // Nodes that cannot be placed would be passed over: read every node then.
  if (!file.Whole()) return std::nullopt;
  std::optional<BTreeHeader> header = ReadBTreeHeader(file);
  if (!header) return std::nullopt;
  return CatalogTree{std::move(file), std::move(*header)};
}

// Deleted files only when no live file has their ID.
void DropDeletedFilesOfLiveIds(CatalogRecords& out, const std::unordered_set<std::uint32_t>& liveIds) {
  const auto live = [&liveIds](const FileEntry& entry) { return liveIds.count(entry.fileId) != 0; };
  out.deletedFiles.erase(std::remove_if(out.deletedFiles.begin(), out.deletedFiles.end(), live),
                         out.deletedFiles.end());
  for (FileEntry& entry : out.deletedFiles) entry.deleted = true;
}

}  // namespace

std::string CatalogName(std::span<const std::uint8_t> bytes) {
  std::string name(bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0}));
  std::replace(name.begin(), name.end(), '\r', '-');
  return name;
}

CatalogRecords ScanCatalogRecords(std::span<const std::uint8_t> image, const std::vector<ByteSpan>& unreadable) {
  CatalogRecords out;
  std::size_t headerNodes = 0;
  std::size_t position = format::kCatalogScanOffset;
  std::array<std::uint8_t, kNodeSize> buffer{};
  const std::optional<CatalogTree> tree = FindCatalogTree(image, unreadable);
  out.treeKnown = tree.has_value();
  RecordLists live{out.dirs, out.files, {}};
  RecordLists deleted{out.deletedDirs, out.deletedFiles, {}};
  while (position < image.size()) {
    // A last node cut short by the end of the image reads as zeros past it.
    buffer.fill(0);
    const std::size_t available = std::min(kNodeSize, image.size() - position);
    if (Overlaps(unreadable, position, position + available)) {
      // What is left of it could give records that were never written. It
      // lost records only when it may have held some in use: a node of the
      // catalogue that its map does not mark free (any node, when the
      // catalogue's tree is not known).
      const std::optional<std::uint32_t> number = tree ? tree->file.NodeAt(position) : std::nullopt;
      if (!tree || (number && !tree->header.IsFree(*number))) ++out.lostNodes;
      position += kNodeSize;
      continue;
    }
    std::memcpy(buffer.data(), image.data() + position, available);
    const ByteReader node(buffer);
    if (buffer[kNodeTypeOffset] == kHeaderNode) {
      if (++headerNodes == kHeaderNodesBeforeEnd) break;
      position += kNodeSize;
    } else if (node.matches(0, kPadding)) {
      position += kPaddingSkip;
    } else if (!tree) {
      ScanRecordNode(node, live);
      position += kNodeSize;
    } else {
      // Only the catalogue's leaf nodes hold its records; the extents
      // tree's nodes, index and map nodes hold other things.
      const std::optional<std::uint32_t> number = tree->file.NodeAt(position);
      if (number && buffer[kNodeTypeOffset] == kLeafNode) {
        ScanRecordNode(node, tree->header.IsFree(*number) ? deleted : live);
      }
      position += kNodeSize;
    }
  }
  if (tree) DropDeletedFilesOfLiveIds(out, live.fileIds);
  return out;
}

bool ListCatalogFiles(const VolumeImage& image, FileTable& files, const std::vector<ByteSpan>& unreadable,
                      std::size_t& lostNodes, bool includeDeleted) {
  MasterDirectoryBlock mdb;
  if (!ParseMasterDirectoryBlock(image, mdb) || image.size() < format::kCatalogScanOffset) return false;
  CatalogRecords records = ScanCatalogRecords(image, unreadable);
  lostNodes = records.lostNodes;
  BuildFilePaths(records.files, records.dirs);
  if (includeDeleted) {
    // A deleted file's folder may be deleted too; live folders come first.
    std::vector<DirEntry> dirs = records.dirs;
    dirs.insert(dirs.end(), records.deletedDirs.begin(), records.deletedDirs.end());
    BuildFilePaths(records.deletedFiles, dirs);
    records.files.insert(records.files.end(), std::make_move_iterator(records.deletedFiles.begin()),
                         std::make_move_iterator(records.deletedFiles.end()));
  }
  AddOverflowExtents(records.files, ReadExtentsOverflow(image, mdb, unreadable), mdb.drAlBlkSiz());
  files.insert(files.end(), std::make_move_iterator(records.files.begin()),
               std::make_move_iterator(records.files.end()));
  return true;
}

}  // namespace kestrow
