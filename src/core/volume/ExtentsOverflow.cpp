#include "volume/ExtentsOverflow.h"

#include <algorithm>
#include <set>

#include "text/ByteReader.h"
#include "volume/BTreeFile.h"

namespace kestrow {
namespace {

constexpr std::size_t kForwardLinkOffset = 0;
constexpr std::size_t kNodeTypeOffset = 8;
constexpr std::size_t kKeyLength = 7;  // xkrKeyLen: fork type, file ID, start block
constexpr std::size_t kRecordSize = 1 + kKeyLength + 12;

void ReadLeafRecords(std::span<const std::uint8_t> node, ExtentsOverflow& out) {
  for (const std::span<const std::uint8_t> bytes : NodeRecords(node)) {
    const ByteReader record(bytes);
    if (bytes.size() < kRecordSize || *record.u8(0) != kKeyLength) continue;
    const ExtentKey key{*record.u8(1), *record.be32(2), *record.be16(6)};
    std::array<ExtentDescriptor, 3> extents{};
    for (std::size_t i = 0; i < extents.size(); ++i) {
      extents[i] = ExtentDescriptor{*record.be16(8 + 4 * i), *record.be16(10 + 4 * i)};
    }
    out.records.emplace(key, extents);
  }
}

std::uint64_t BlocksOf(std::span<const ExtentDescriptor> extents) {
  std::uint64_t blocks = 0;
  for (const ExtentDescriptor& extent : extents) blocks += extent.blockCount;
  return blocks;
}

// The blocks a fork has room for: its physical length. A fork whose logical
// length claims more is missing the rest (a hostile record could otherwise
// claim every extent of the overflow file for each of its copies).
std::uint64_t NeededBlocks(std::uint32_t physical, std::uint32_t allocBlockSize) {
  return allocBlockSize == 0 ? 0 : (std::uint64_t{physical} + allocBlockSize - 1) / allocBlockSize;
}

}  // namespace

ExtentsOverflow ReadExtentsOverflow(std::span<const std::uint8_t> image, const MasterDirectoryBlock& mdb,
                                    const std::vector<ByteSpan>& unreadable) {
  ExtentsOverflow out;
  const BTreeFile file = BTreeFile::ExtentsOverflow(image, mdb, unreadable);
  const std::optional<BTreeHeader> header = ReadBTreeHeader(file);
  if (!header) return out;
  std::set<std::uint32_t> visited;
  for (std::uint32_t next = header->firstLeaf; next != 0;) {
    const std::optional<std::span<const std::uint8_t>> node = file.Node(next);
    if (!node || (*node)[kNodeTypeOffset] != kLeafNode || !visited.insert(next).second) return out;
    ReadLeafRecords(*node, out);
    next = *ByteReader(*node).be32(kForwardLinkOffset);
  }
  out.readable = true;
  return out;
}

std::vector<ExtentDescriptor> OverflowExtents(const ExtentsOverflow& overflow, std::uint8_t forkType,
                                              std::uint32_t fileId, const std::array<ExtentDescriptor, 3>& first,
                                              std::uint64_t neededBlocks) {
  std::vector<ExtentDescriptor> found;
  std::uint64_t blocks = BlocksOf(first);
  // Every record found moves the fork's block on, so the walk ends.
  while (blocks < neededBlocks && blocks <= UINT16_MAX) {
    const auto record = overflow.records.find(ExtentKey{forkType, fileId, static_cast<std::uint32_t>(blocks)});
    if (record == overflow.records.end()) break;
    const std::uint64_t more = BlocksOf(record->second);
    if (more == 0) break;
    for (const ExtentDescriptor& extent : record->second) {
      if (extent.blockCount != 0) found.push_back(extent);
    }
    blocks += more;
  }
  return found;
}

void AddOverflowExtents(FileTable& files, const ExtentsOverflow& overflow, std::uint32_t allocBlockSize) {
  if (overflow.records.empty()) return;
  for (FileEntry& entry : files) {
    entry.dataOverflowExtents =
        OverflowExtents(overflow, kDataForkType, entry.fileId, entry.dataExtents,
                        NeededBlocks(entry.dataPhysicalLength, allocBlockSize));
    entry.rsrcOverflowExtents =
        OverflowExtents(overflow, kResourceForkType, entry.fileId, entry.rsrcExtents,
                        NeededBlocks(entry.rsrcPhysicalLength, allocBlockSize));
  }
}

}  // namespace kestrow
