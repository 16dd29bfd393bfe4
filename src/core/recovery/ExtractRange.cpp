#include "recovery/ExtractRange.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "KestrowCore.h"
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

}  // namespace

bool ExtractRange(const std::vector<GroupBuffer>& groups, std::uint32_t start, std::uint32_t end,
                  std::span<std::uint8_t> out) {
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
      }
      written += length;
    }
  }
  return supplied == outSize;
}

bool CKestrowCore::ExtractRange(const std::vector<GroupBuffer>& groups, std::int32_t start,
                                std::int32_t end, std::vector<std::uint8_t>& out) {
  return kestrow::ExtractRange(groups, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end), out);
}

}  // namespace kestrow
