#include "GroupPacker.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "LzsEncoder.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::mkdisc {
namespace {

constexpr std::size_t kBlock = format::kBlockSize;
constexpr std::size_t kMaxTableBlocks = 0xFFFF;  // the block count is a 16-bit field

std::size_t TableSize(std::size_t blocks) {
  return format::kGroupEntriesOffset + blocks * format::kGroupEntrySize;
}

// The blocks of one group while it is being filled.
class GroupAssembler {
 public:
  GroupAssembler(std::uint32_t firstBlock, std::size_t maxBlocks) : m_firstBlock(firstBlock), m_maxBlocks(maxBlocks) {}

  bool empty() const { return m_lengths.empty(); }

  bool Fits(std::size_t storedLength) const {
    const std::size_t blocks = m_lengths.size() + 1;
    return blocks <= m_maxBlocks && TableSize(blocks) + m_data.size() + storedLength <= format::kGroupBufferSize;
  }

  void Add(const std::vector<std::uint8_t>& stored) {
    m_lengths.push_back(stored.size());
    if (stored.size() < kBlock) ++m_compressed;
    m_data.insert(m_data.end(), stored.begin(), stored.end());
  }

  // The block table (count, end of data, one entry per block) and the data.
  PackedGroup Finish() const {
    PackedGroup group;
    group.firstBlock = m_firstBlock;
    group.blockCount = static_cast<std::uint32_t>(m_lengths.size());
    group.compressedBlocks = m_compressed;
    const std::size_t table = TableSize(m_lengths.size());
    group.buffer.assign(table, 0);
    group.buffer.insert(group.buffer.end(), m_data.begin(), m_data.end());
    std::uint8_t* bytes = group.buffer.data();
    PutBe16(bytes + format::kGroupBlockCountOffset, group.blockCount);
    std::size_t dataOffset = format::kGroupDataOffsetBias + table;
    for (std::size_t j = 0; j < m_lengths.size(); ++j) {
      std::uint8_t* entry = bytes + format::kGroupEntriesOffset + j * format::kGroupEntrySize;
      const std::size_t position = (m_firstBlock + j) * format::kUnitsPerBlock;
      PutBe24(entry + format::kGroupEntryPositionOffset, static_cast<std::uint32_t>(position));
      PutBe24(entry + format::kGroupEntryDataOffsetOffset, static_cast<std::uint32_t>(dataOffset));
      dataOffset += m_lengths[j];
    }
    PutBe32(bytes + format::kGroupDataEndOffset, static_cast<std::uint32_t>(dataOffset));
    return group;
  }

 private:
  std::uint32_t m_firstBlock;
  std::size_t m_maxBlocks;
  std::vector<std::size_t> m_lengths;
  std::vector<std::uint8_t> m_data;
  std::uint32_t m_compressed = 0;
};

}  // namespace

std::uint64_t BlockCount(std::uint64_t volumeBytes) { return (volumeBytes + kBlock - 1) / kBlock; }

std::vector<std::uint8_t> StoreBlock(std::span<const std::uint8_t> block, bool uncompressed) {
  std::array<std::uint8_t, kBlock> padded{};
  std::memcpy(padded.data(), block.data(), std::min(block.size(), kBlock));
  if (!uncompressed) {
    std::vector<std::uint8_t> stream = LzsCompress(padded);
    if (stream.size() < kBlock) return stream;
  }
  return {padded.begin(), padded.end()};
}

std::vector<PackedGroup> PackVolume(std::span<const std::uint8_t> volume, const PackingOptions& options) {
  const std::size_t maxBlocks =
      options.maxBlocksPerGroup == 0 ? kMaxTableBlocks : std::min(options.maxBlocksPerGroup, kMaxTableBlocks);
  const std::uint64_t blocks = BlockCount(volume.size());
  std::vector<PackedGroup> groups;
  GroupAssembler current(static_cast<std::uint32_t>(options.firstBlock), maxBlocks);
  for (std::uint64_t index = options.firstBlock; index < blocks; ++index) {
    const std::size_t offset = static_cast<std::size_t>(index * kBlock);
    const std::vector<std::uint8_t> stored =
        StoreBlock(volume.subspan(offset, std::min(kBlock, volume.size() - offset)), options.uncompressed);
    if (!current.Fits(stored.size())) {
      groups.push_back(current.Finish());
      current = GroupAssembler(static_cast<std::uint32_t>(index), maxBlocks);
    }
    current.Add(stored);
  }
  if (!current.empty()) groups.push_back(current.Finish());
  return groups;
}

}  // namespace kestrow::mkdisc
