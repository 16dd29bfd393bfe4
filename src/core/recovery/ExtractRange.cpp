#include "recovery/ExtractRange.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "recovery/Lzs.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

constexpr std::int64_t kBlock = static_cast<std::int64_t>(format::kBlockSize);
constexpr std::int64_t kBias = static_cast<std::int64_t>(format::kGroupDataOffsetBias);

// One block of a group's table: where it lies in the volume and where its
// stored data lies in the group buffer.
struct BlockEntry {
  std::int64_t position;  // volume byte offset
  std::int64_t begin;     // buffer offset of the stored data
  std::int64_t end;       // buffer offset after it
};

std::optional<BlockEntry> ReadBlockEntry(const ByteReader& group, std::uint32_t j, std::uint32_t count) {
  const std::size_t entry = format::kGroupEntriesOffset + std::size_t{j} * format::kGroupEntrySize;
  const auto position = group.be24(entry + format::kGroupEntryPositionOffset);
  const auto begin = group.be24(entry + format::kGroupEntryDataOffsetOffset);
  const auto end = j + 1 < count
                       ? group.be24(entry + format::kGroupEntrySize + format::kGroupEntryDataOffsetOffset)
                       : group.be32(format::kGroupDataEndOffset);
  if (!position || !begin || !end) return std::nullopt;
  return BlockEntry{std::int64_t{*position} * static_cast<std::int64_t>(format::kUnitSize),
                    std::int64_t{*begin} - kBias, std::int64_t{*end} - kBias};
}

// The block's 8,192 bytes of contents; nullptr when its stored data does not
// lie inside the group buffer.
const std::uint8_t* BlockContents(const GroupBuffer& group, const BlockEntry& block,
                                  std::array<std::uint8_t, format::kBlockSize>& scratch) {
  const std::int64_t size = static_cast<std::int64_t>(group.size());
  const std::int64_t stored = block.end - block.begin;
  if (block.begin < 0 || block.begin > size || stored < 0) return nullptr;
  if (stored >= kBlock) {  // stored plain
    return block.begin + kBlock <= size ? group.data() + block.begin : nullptr;
  }
  scratch.fill(0);
  const std::int64_t available = std::min(stored, size - block.begin);
  LzsDecompress(group.data() + block.begin, static_cast<int>(available), scratch.data());
  return scratch.data();
}

// True when the stored data of `block` lies in a buffer of `size` bytes as
// BlockContents needs it.
bool StoredDataInside(const BlockEntry& block, std::int64_t size) {
  const std::int64_t stored = block.end - block.begin;
  if (block.begin < 0 || block.begin > size || stored < 0) return false;
  return stored < kBlock || block.begin + kBlock <= size;
}

// The buffer bytes BlockContents reads for `block`.
ByteSpan StoredBytes(const BlockEntry& block, std::int64_t size) {
  const std::int64_t stored = block.end - block.begin;
  const std::int64_t length = stored >= kBlock ? kBlock : std::min(stored, size - block.begin);
  return ByteSpan{static_cast<std::uint64_t>(block.begin), static_cast<std::uint64_t>(block.begin + length)};
}

// True when a sector of `unreadable` holds one of the buffer bytes [begin, end).
bool TouchesUnreadable(const GroupSectorMask& unreadable, std::uint64_t begin, std::uint64_t end) {
  if (end <= begin) return false;
  const std::size_t first = static_cast<std::size_t>(begin / format::kUserDataSize);
  const std::size_t last = std::min<std::size_t>(static_cast<std::size_t>((end - 1) / format::kUserDataSize),
                                                 unreadable.size() - 1);
  for (std::size_t i = first; i <= last; ++i) {
    if (unreadable[i]) return true;
  }
  return false;
}

}  // namespace

bool ExtractRange(const std::vector<GroupBuffer>& groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out, std::vector<ByteSpan>* unsupplied) {
  return ExtractRange(std::span<const GroupBuffer>(groups), start, end, out, unsupplied);
}

bool ExtractRange(std::span<const GroupBuffer> groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out, std::vector<ByteSpan>* unsupplied) {
  const std::int64_t first = start;
  const std::int64_t last = end;
  const std::int64_t outSize = static_cast<std::int64_t>(out.size());
  std::int64_t written = 0;
  std::int64_t supplied = 0;
  std::array<std::uint8_t, format::kBlockSize> scratch{};
  for (const GroupBuffer& buffer : groups) {
    const ByteReader group(buffer);
    const std::uint32_t count = group.be16(format::kGroupBlockCountOffset).value_or(0);
    for (std::uint32_t j = 0; j < count; ++j) {
      const std::optional<BlockEntry> block = ReadBlockEntry(group, j, count);
      if (!block) break;  // the table runs off the buffer
      if (first >= block->position + kBlock) continue;  // wholly before the range
      if (last <= block->position) break;               // wholly after it
      const std::int64_t skip = first >= block->position ? first - block->position : 0;
      const std::int64_t length = std::min(kBlock - skip, outSize - written);
      if (length <= 0) continue;
      const std::uint8_t* contents = BlockContents(buffer, *block, scratch);
      if (contents) {
        std::memcpy(out.data() + written, contents + skip, static_cast<std::size_t>(length));
        supplied += length;
      } else if (unsupplied) {
        unsupplied->push_back({static_cast<std::uint64_t>(written), static_cast<std::uint64_t>(written + length)});
      }
      written += length;
    }
  }
  if (unsupplied && written < outSize) {
    unsupplied->push_back({static_cast<std::uint64_t>(written), static_cast<std::uint64_t>(outSize)});
  }
  return supplied == outSize;
}

GroupBlocks ReadGroupBlocks(std::span<const std::uint8_t> buffer, const GroupSectorMask& unreadable) {
  GroupBlocks table;
  const ByteReader group(buffer);
  const std::int64_t size = static_cast<std::int64_t>(buffer.size());
  // The block count and the data end lie in the group's sector 1.
  if (unreadable[0] || !group.has(0, format::kGroupEntriesOffset)) {
    table.tableLost = true;
    return table;
  }
  const std::uint32_t count = *group.be16(format::kGroupBlockCountOffset);
  const std::uint64_t tableEnd = std::min<std::uint64_t>(
      format::kGroupEntriesOffset + std::uint64_t{count} * format::kGroupEntrySize, buffer.size());
  if (TouchesUnreadable(unreadable, 0, tableEnd)) {
    table.tableLost = true;
    return table;
  }
  for (std::uint32_t j = 0; j < count; ++j) {
    const std::optional<BlockEntry> block = ReadBlockEntry(group, j, count);
    if (!block) break;  // the table runs off the buffer
    GroupBlocks::Block entry{block->position, block->begin, block->end, false};
    if (StoredDataInside(*block, size)) {
      const ByteSpan stored = StoredBytes(*block, size);
      entry.usable = !TouchesUnreadable(unreadable, stored.begin, stored.end);
    }
    table.blocks.push_back(entry);
  }
  return table;
}

std::vector<ByteSpan> WalkUsableBlocks(const std::vector<GroupBlocks>& groups, std::uint32_t start,
                                       std::uint32_t end, std::uint64_t outSize, const BlockVisitor& visit) {
  const std::int64_t first = start;
  const std::int64_t last = end;
  const std::int64_t size = static_cast<std::int64_t>(std::min<std::uint64_t>(outSize, INT64_MAX));
  std::vector<ByteSpan> covered;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (const GroupBlocks::Block& block : groups[g].blocks) {
      if (first >= block.position + kBlock) continue;  // wholly before the range
      if (last <= block.position) break;               // wholly after it
      const std::int64_t skip = first > block.position ? first - block.position : 0;
      const std::int64_t at = block.position + skip - first;
      const std::int64_t length = std::min(kBlock - skip, size - at);
      if (length <= 0 || !block.usable) continue;
      if (visit) visit(g, block, skip, at, length);
      covered.push_back({static_cast<std::uint64_t>(at), static_cast<std::uint64_t>(at + length)});
    }
  }
  return Uncovered(std::move(covered), outSize);
}

std::vector<ByteSpan> ExtractReadableRange(std::span<const GroupBuffer> groups,
                                           std::span<const GroupSectorMask> masks, std::uint32_t start,
                                           std::uint32_t end, std::span<std::uint8_t> out) {
  std::vector<GroupBlocks> tables;
  tables.reserve(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    tables.push_back(ReadGroupBlocks(groups[g], g < masks.size() ? masks[g] : GroupSectorMask{}));
  }
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  std::array<std::uint8_t, format::kBlockSize> scratch{};
  return WalkUsableBlocks(tables, start, end, out.size(),
                          [&](std::size_t g, const GroupBlocks::Block& block, std::int64_t skip, std::int64_t at,
                              std::int64_t length) {
                            const BlockEntry entry{block.position, block.begin, block.end};
                            const std::uint8_t* contents = BlockContents(groups[g], entry, scratch);
                            if (contents) {
                              std::memcpy(out.data() + at, contents + skip, static_cast<std::size_t>(length));
                            }
                          });
}

}  // namespace kestrow
