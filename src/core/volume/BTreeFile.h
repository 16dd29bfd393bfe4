// The volume's two B-tree files (the catalogue and the extents overflow
// file) as they lie in the volume image: 512-byte nodes placed through the
// file's extents in the master directory block, its header node and its
// node map.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Spans.h"
#include "volume/FileEntry.h"
#include "volume/MasterDirectoryBlock.h"

namespace kestrow {

inline constexpr std::size_t kBTreeNodeSize = 512;
inline constexpr std::uint8_t kLeafNode = 0xFF;    // ndType of a leaf node
inline constexpr std::uint8_t kIndexNode = 0x00;
inline constexpr std::uint8_t kHeaderNodeType = 1;
inline constexpr std::uint8_t kMapNode = 2;

// Where one B-tree file's nodes lie in the image.
class BTreeFile {
 public:
  BTreeFile(std::span<const std::uint8_t> image, std::vector<ExtentDescriptor> extents,
            std::uint32_t allocBlockSize, const std::vector<ByteSpan>& unreadable = {});

  // The catalogue file (drCTExtRec, then the extents the overflow file holds
  // for file ID 4 when the catalogue has grown past them) and the extents
  // overflow file (drXTExtRec; it never has more).
  static BTreeFile Catalog(std::span<const std::uint8_t> image, const MasterDirectoryBlock& mdb,
                           const std::vector<ByteSpan>& unreadable = {});
  static BTreeFile ExtentsOverflow(std::span<const std::uint8_t> image, const MasterDirectoryBlock& mdb,
                                   const std::vector<ByteSpan>& unreadable = {});

  // The image offset of node `node`, when the whole node lies in the file's
  // extents and in the image.
  std::optional<std::uint64_t> NodeOffset(std::uint32_t node) const;
  // The number of the node that begins at image offset `offset`, when the
  // file has one there.
  std::optional<std::uint32_t> NodeAt(std::uint64_t offset) const;
  // The node's bytes, when it lies in the image and all of them were read.
  std::optional<std::span<const std::uint8_t>> Node(std::uint32_t node) const;
  // Nodes the file's extents hold.
  std::uint32_t NodeCapacity() const;
  // False when the extents found hold less than the file's length in the
  // master directory block: some of its nodes cannot be placed.
  bool Whole() const { return m_whole; }

 private:
  std::span<const std::uint8_t> m_image;
  std::vector<ExtentDescriptor> m_extents;
  bool m_whole = true;
  std::uint64_t m_blockSize;
  std::vector<ByteSpan> m_unreadable;
};

// What the header node says of the tree.
struct BTreeHeader {
  std::uint32_t firstLeaf = 0;  // bthFNode
  std::uint32_t nodeCount = 0;  // bthNNodes
  // Bit n: node n is in use (the header node's map record, then the map
  // nodes it links to). Nodes past its end are not known to be free.
  std::vector<bool> inUse;
  bool mapWhole = false;  // every map node was read, and the map covers every node

  // True when the map says node `node` is free.
  bool IsFree(std::uint32_t node) const { return node < inUse.size() && !inUse[node]; }
};

// Reads the header node (node 0) and the node map. Nothing when the header
// node cannot be read or is no header node of 512-byte nodes.
std::optional<BTreeHeader> ReadBTreeHeader(const BTreeFile& file);

// The records of a node, each as the bytes from its offset to the next
// record's (the offset table at the node's end, bounds-checked).
std::vector<std::span<const std::uint8_t>> NodeRecords(std::span<const std::uint8_t> node);

}  // namespace kestrow
