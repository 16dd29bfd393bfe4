#include "volume/BTreeFile.h"

#include <algorithm>
#include <set>

#include "text/ByteReader.h"
#include "volume/ExtentsOverflow.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::size_t kMdbExtentsFileExtents = 134;  // drXTExtRec
constexpr std::uint32_t kCatalogFileId = 4;
constexpr std::size_t kNodeDescriptorSize = 14;
constexpr std::size_t kForwardLinkOffset = 0;      // ndFLink
constexpr std::size_t kNodeTypeOffset = 8;         // ndType
constexpr std::size_t kRecordCountOffset = 10;     // ndNRecs
constexpr std::size_t kHeaderFirstLeaf = 24;       // bthFNode, node offset
constexpr std::size_t kHeaderNodeSize = 32;        // bthNodeSize
constexpr std::size_t kHeaderNodeCount = 36;       // bthNNodes
constexpr std::size_t kMapRecord = 2;              // the header node's third record

std::array<ExtentDescriptor, 3> MdbExtents(const MasterDirectoryBlock& mdb, std::size_t offset) {
  const ByteReader reader(mdb.bytes);
  std::array<ExtentDescriptor, 3> extents{};
  for (std::size_t i = 0; i < extents.size(); ++i) {
    extents[i] = ExtentDescriptor{*reader.be16(offset + 4 * i), *reader.be16(offset + 4 * i + 2)};
  }
  return extents;
}

}  // namespace

BTreeFile::BTreeFile(std::span<const std::uint8_t> image, std::vector<ExtentDescriptor> extents,
                     std::uint32_t allocBlockSize, const std::vector<ByteSpan>& unreadable)
    : m_image(image), m_extents(std::move(extents)), m_blockSize(allocBlockSize), m_unreadable(unreadable) {}

BTreeFile BTreeFile::Catalog(std::span<const std::uint8_t> image, const MasterDirectoryBlock& mdb,
                             const std::vector<ByteSpan>& unreadable) {
  const std::array<ExtentDescriptor, 3> first = MdbExtents(mdb, format::kMdbCatalogExtentsOffset);
  std::vector<ExtentDescriptor> extents(first.begin(), first.end());
  const std::uint64_t blockSize = mdb.drAlBlkSiz();
  const std::uint64_t needed = blockSize == 0 ? 0 : (std::uint64_t{mdb.drCTFlSize()} + blockSize - 1) / blockSize;
  std::uint64_t blocks = 0;
  for (const ExtentDescriptor& extent : first) blocks += extent.blockCount;
  if (blocks < needed) {
    const std::vector<ExtentDescriptor> more = OverflowExtents(ReadExtentsOverflow(image, mdb, unreadable),
                                                               kDataForkType, kCatalogFileId, first, needed);
    for (const ExtentDescriptor& extent : more) blocks += extent.blockCount;
    extents.insert(extents.end(), more.begin(), more.end());
  }
  BTreeFile file(image, std::move(extents), mdb.drAlBlkSiz(), unreadable);
  file.m_whole = blocks >= needed;
  return file;
}

BTreeFile BTreeFile::ExtentsOverflow(std::span<const std::uint8_t> image, const MasterDirectoryBlock& mdb,
                                     const std::vector<ByteSpan>& unreadable) {
  const std::array<ExtentDescriptor, 3> extents = MdbExtents(mdb, kMdbExtentsFileExtents);
  return BTreeFile(image, std::vector<ExtentDescriptor>(extents.begin(), extents.end()), mdb.drAlBlkSiz(),
                   unreadable);
}

std::uint32_t BTreeFile::NodeCapacity() const {
  std::uint64_t bytes = 0;
  for (const ExtentDescriptor& extent : m_extents) bytes += std::uint64_t{extent.blockCount} * m_blockSize;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes / kBTreeNodeSize, UINT32_MAX));
}

std::optional<std::uint64_t> BTreeFile::NodeOffset(std::uint32_t node) const {
  if (m_blockSize == 0 || m_blockSize % kBTreeNodeSize != 0) return std::nullopt;
  std::uint64_t fileOffset = std::uint64_t{node} * kBTreeNodeSize;
  for (const ExtentDescriptor& extent : m_extents) {
    const std::uint64_t length = std::uint64_t{extent.blockCount} * m_blockSize;
    if (fileOffset < length) {
      const std::uint64_t offset =
          format::kCatalogScanOffset + std::uint64_t{extent.startBlock} * m_blockSize + fileOffset;
      if (offset + kBTreeNodeSize > m_image.size()) return std::nullopt;
      return offset;
    }
    fileOffset -= length;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> BTreeFile::NodeAt(std::uint64_t offset) const {
  if (m_blockSize == 0 || m_blockSize % kBTreeNodeSize != 0 || offset < format::kCatalogScanOffset) return std::nullopt;
  const std::uint64_t volumeOffset = offset - format::kCatalogScanOffset;
  std::uint64_t fileOffset = 0;
  for (const ExtentDescriptor& extent : m_extents) {
    const std::uint64_t start = std::uint64_t{extent.startBlock} * m_blockSize;
    const std::uint64_t length = std::uint64_t{extent.blockCount} * m_blockSize;
    if (volumeOffset >= start && volumeOffset < start + length && (volumeOffset - start) % kBTreeNodeSize == 0) {
      return static_cast<std::uint32_t>((fileOffset + volumeOffset - start) / kBTreeNodeSize);
    }
    fileOffset += length;
  }
  return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> BTreeFile::Node(std::uint32_t node) const {
  const std::optional<std::uint64_t> offset = NodeOffset(node);
  if (!offset || Overlaps(m_unreadable, *offset, *offset + kBTreeNodeSize)) return std::nullopt;
  return m_image.subspan(static_cast<std::size_t>(*offset), kBTreeNodeSize);
}

std::vector<std::span<const std::uint8_t>> NodeRecords(std::span<const std::uint8_t> node) {
  std::vector<std::span<const std::uint8_t>> records;
  const ByteReader reader(node);
  const std::uint32_t count = reader.be16(kRecordCountOffset).value_or(0);
  if (node.size() != kBTreeNodeSize || count == 0 || (count + 1) * 2 + kNodeDescriptorSize > node.size()) {
    return records;
  }
  const std::size_t tableStart = node.size() - 2 * (count + 1);  // the free space offset comes last
  const auto offsetOf = [&](std::size_t i) { return std::size_t{*reader.be16(node.size() - 2 - 2 * i)}; };
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t begin = offsetOf(i);
    const std::size_t end = offsetOf(i + 1);
    if (begin < kNodeDescriptorSize || end < begin || end > tableStart) break;
    records.push_back(node.subspan(begin, end - begin));
  }
  return records;
}

std::optional<BTreeHeader> ReadBTreeHeader(const BTreeFile& file) {
  const std::optional<std::span<const std::uint8_t>> node = file.Node(0);
  if (!node) return std::nullopt;
  const ByteReader header(*node);
  if (*header.u8(kNodeTypeOffset) != kHeaderNodeType || *header.be16(kHeaderNodeSize) != kBTreeNodeSize) {
    return std::nullopt;
  }
  BTreeHeader result;
  result.firstLeaf = *header.be32(kHeaderFirstLeaf);
  result.nodeCount = std::min(*header.be32(kHeaderNodeCount), file.NodeCapacity());
  const auto appendMap = [&](std::span<const std::uint8_t> map) {
    for (const std::uint8_t byte : map) {
      for (int bit = 7; bit >= 0; --bit) result.inUse.push_back(((byte >> bit) & 1) != 0);
    }
  };
  const auto records = NodeRecords(*node);
  if (records.size() <= kMapRecord) return result;  // no map: no node is known to be free
  appendMap(records[kMapRecord]);
  // The map goes on in map nodes, linked from the header node.
  std::set<std::uint32_t> visited{0};
  bool whole = true;
  for (std::uint32_t next = *header.be32(kForwardLinkOffset); next != 0 && result.inUse.size() < result.nodeCount;) {
    const std::optional<std::span<const std::uint8_t>> mapNode = file.Node(next);
    if (!visited.insert(next).second || !mapNode || (*mapNode)[kNodeTypeOffset] != kMapNode) {
      whole = false;
      break;
    }
    const auto mapRecords = NodeRecords(*mapNode);
    if (mapRecords.empty()) {
      whole = false;
      break;
    }
    appendMap(mapRecords[0]);
    next = *ByteReader(*mapNode).be32(kForwardLinkOffset);
  }
  result.mapWhole = whole && result.inUse.size() >= result.nodeCount;
  if (!result.mapWhole) result.inUse.clear();  // a map read in part says nothing for sure
  return result;
}

}  // namespace kestrow
