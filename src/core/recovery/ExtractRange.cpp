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
const std::uint8_t* BlockContents(GroupView group, std::int64_t begin, std::int64_t end, std::uint8_t* scratch) {
  const std::int64_t size = static_cast<std::int64_t>(group.size());
  const std::int64_t stored = end - begin;
  if (begin < 0 || begin > size || stored < 0) return nullptr;
  if (stored >= kBlock) {  // stored plain
    return begin + kBlock <= size ? group.data() + begin : nullptr;
  }
  const std::int64_t available = std::min(stored, size - begin);
  LzsDecompress(group.data() + begin, static_cast<int>(available), scratch);  // zeros after what it produces
  return scratch;
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

std::vector<GroupView> ViewsOf(std::span<const GroupBuffer> groups) {
  return std::vector<GroupView>(groups.begin(), groups.end());
}

void CopyPlanned(std::span<const GroupView> groups, const RangePlan& plan, std::span<std::uint8_t> out) {
  std::array<std::uint8_t, format::kBlockSize> scratch{};
  for (const BlockCopy& copy : plan.copies) CopyBlock(groups[copy.group], copy, out.data(), scratch.data());
}

}  // namespace

RangePlanner::RangePlanner(std::uint32_t start, std::uint32_t end, std::uint64_t outSize)
    : m_first(start), m_last(end), m_size(static_cast<std::int64_t>(std::min<std::uint64_t>(outSize, INT64_MAX))) {}

void RangePlanner::Add(std::uint32_t index, GroupView view) {
  const ByteReader group(view);
  const std::uint32_t count = group.be16(format::kGroupBlockCountOffset).value_or(0);
  for (std::uint32_t j = 0; j < count; ++j) {
    const std::optional<BlockEntry> block = ReadBlockEntry(group, j, count);
    if (!block) break;  // the table runs off the buffer
    if (m_first >= block->position + kBlock) continue;  // wholly before the range
    if (m_last <= block->position) break;               // wholly after it
    const std::int64_t skip = m_first >= block->position ? m_first - block->position : 0;
    const std::int64_t length = std::min(kBlock - skip, m_size - m_written);
    if (length <= 0) continue;
    if (StoredDataInside(*block, static_cast<std::int64_t>(view.size()))) {
      m_plan.copies.push_back({index, block->begin, block->end, skip, m_written, length});
    } else {
      m_plan.unsupplied.push_back(
          {static_cast<std::uint64_t>(m_written), static_cast<std::uint64_t>(m_written + length)});
    }
    m_written += length;
  }
}

RangePlan RangePlanner::Finish() {
  if (m_written < m_size) {
    m_plan.unsupplied.push_back({static_cast<std::uint64_t>(m_written), static_cast<std::uint64_t>(m_size)});
  }
  return std::move(m_plan);
}

RangePlan PlanRange(std::span<const GroupView> groups, std::uint32_t start, std::uint32_t end, std::uint64_t outSize) {
  RangePlanner planner(start, end, outSize);
  for (std::size_t g = 0; g < groups.size(); ++g) planner.Add(static_cast<std::uint32_t>(g), groups[g]);
  return planner.Finish();
}

void CopyBlock(GroupView group, const BlockCopy& copy, std::uint8_t* out, std::uint8_t* scratch) {
  const std::int64_t size = static_cast<std::int64_t>(group.size());
  const std::int64_t stored = copy.end - copy.begin;
  if (copy.skip == 0 && copy.length == kBlock && stored >= 0 && stored < kBlock && copy.begin >= 0 &&
      copy.begin <= size) {
    // A whole block goes straight to its place; the decoder zeros what lies
    // after the bytes it produces.
    const std::int64_t available = std::min(stored, size - copy.begin);
    LzsDecompress(group.data() + copy.begin, static_cast<int>(available), out + copy.at);
    return;
  }
  const std::uint8_t* contents = BlockContents(group, copy.begin, copy.end, scratch);
  if (contents) std::memcpy(out + copy.at, contents + copy.skip, static_cast<std::size_t>(copy.length));
}

bool ExtractRange(const std::vector<GroupBuffer>& groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out, std::vector<ByteSpan>* unsupplied) {
  return ExtractRange(std::span<const GroupBuffer>(groups), start, end, out, unsupplied);
}

bool ExtractRange(std::span<const GroupBuffer> groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out, std::vector<ByteSpan>* unsupplied) {
  const std::vector<GroupView> views = ViewsOf(groups);
  RangePlan plan = PlanRange(views, start, end, out.size());
  CopyPlanned(views, plan, out);
  const bool whole = plan.unsupplied.empty();
  if (unsupplied) unsupplied->insert(unsupplied->end(), plan.unsupplied.begin(), plan.unsupplied.end());
  return whole;
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

RangePlan PlanReadableRange(std::span<const GroupView> groups, std::span<const GroupSectorMask> masks,
                            std::uint32_t start, std::uint32_t end, std::uint64_t outSize) {
  std::vector<GroupBlocks> tables;
  tables.reserve(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    tables.push_back(ReadGroupBlocks(groups[g], g < masks.size() ? masks[g] : GroupSectorMask{}));
  }
  RangePlan plan;
  plan.unsupplied = WalkUsableBlocks(tables, start, end, outSize,
                                     [&](std::size_t g, const GroupBlocks::Block& block, std::int64_t skip,
                                         std::int64_t at, std::int64_t length) {
                                       plan.copies.push_back({static_cast<std::uint32_t>(g), block.begin, block.end,
                                                              skip, at, length});
                                     });
  return plan;
}

std::vector<ByteSpan> ExtractReadableRange(std::span<const GroupBuffer> groups,
                                           std::span<const GroupSectorMask> masks, std::uint32_t start,
                                           std::uint32_t end, std::span<std::uint8_t> out) {
  const std::vector<GroupView> views = ViewsOf(groups);
  RangePlan plan = PlanReadableRange(views, masks, start, end, out.size());
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  CopyPlanned(views, plan, out);
  return std::move(plan.unsupplied);
}

}  // namespace kestrow
