// The extents overflow file: where the forks that have more than the three
// extents of their catalogue record keep the rest, one leaf record of three
// extents per run, keyed by fork type, file ID and the fork's allocation
// block where the run begins.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <tuple>
#include <vector>

#include "Spans.h"
#include "volume/FileEntry.h"
#include "volume/MasterDirectoryBlock.h"

namespace kestrow {

inline constexpr std::uint8_t kDataForkType = 0x00;
inline constexpr std::uint8_t kResourceForkType = 0xFF;

struct ExtentKey {
  std::uint8_t forkType = 0;     // xkrFkType
  std::uint32_t fileId = 0;      // xkrFNum
  std::uint32_t startBlock = 0;  // xkrFABN: the fork's block where the run begins
  auto operator<=>(const ExtentKey&) const = default;
};

struct ExtentsOverflow {
  // The header node was read and the leaf chain followed to its end.
  bool readable = false;
  std::map<ExtentKey, std::array<ExtentDescriptor, 3>> records;
};

// Reads the leaf records of the extents B-tree, following the leaf chain
// from the header node's first leaf. A node that cannot be read, is no leaf
// or was met before ends the chain, and the file counts as not readable.
ExtentsOverflow ReadExtentsOverflow(std::span<const std::uint8_t> image, const MasterDirectoryBlock& mdb,
                                    const std::vector<ByteSpan>& unreadable = {});

// Gives every file's forks the extents after their catalogue record's three,
// as far as the forks' physical lengths need them and the overflow file
// holds them.
void AddOverflowExtents(FileTable& files, const ExtentsOverflow& overflow, std::uint32_t allocBlockSize);

// The extents of a fork past its catalogue record's three that the
// overflow file holds, in fork order, up to `neededBlocks` blocks in all.
std::vector<ExtentDescriptor> OverflowExtents(const ExtentsOverflow& overflow, std::uint8_t forkType,
                                              std::uint32_t fileId, const std::array<ExtentDescriptor, 3>& first,
                                              std::uint64_t neededBlocks);

}  // namespace kestrow
