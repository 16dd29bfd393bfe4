#include "LzsEncoder.h"

#include <algorithm>
#include <cstddef>

#include "volume/PackedFormat.h"

namespace kestrow::mkdisc {
namespace {

constexpr std::size_t kMaxOffset = format::kLzsMaxOffset;
constexpr std::size_t kMinMatch = format::kLzsMinMatch;
constexpr std::size_t kMaxChainDepth = 96;
constexpr std::size_t kHashSize = 1u << 16;  // every pair of bytes has its own chain
constexpr std::int32_t kNone = -1;

// Appends bits most significant first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

  void Put(std::uint32_t value, int count) {  // count <= 32
    m_pending = (m_pending << count) | value;
    m_bits += count;
    while (m_bits >= 8) {
      m_bits -= 8;
      m_out.push_back(static_cast<std::uint8_t>(m_pending >> m_bits));
    }
    m_pending &= (std::uint64_t{1} << m_bits) - 1;
  }

  // Pads the last byte with zero bits.
  void Flush() {
    if (m_bits > 0) m_out.push_back(static_cast<std::uint8_t>(m_pending << (8 - m_bits)));
    m_pending = 0;
    m_bits = 0;
  }

 private:
  std::vector<std::uint8_t>& m_out;
  std::uint64_t m_pending = 0;
  int m_bits = 0;
};

void PutLiteral(BitWriter& bits, std::uint8_t byte) { bits.Put(byte, 9); }

void PutOffset(BitWriter& bits, std::size_t offset) {
  if (offset < format::kLzsShortOffsetLimit) {
    bits.Put(0b11, 2);
    bits.Put(static_cast<std::uint32_t>(offset), 7);
  } else {
    bits.Put(0b10, 2);
    bits.Put(static_cast<std::uint32_t>(offset), 11);
  }
}

// 00 = 2, 01 = 3, 10 = 4, 1100..1110 = 5..7, then 1111 = 8 followed by 4-bit
// groups: 1111 adds 15 and goes on, a smaller group adds itself and ends.
void PutLength(BitWriter& bits, std::size_t length) {
  if (length <= 4) {
    bits.Put(static_cast<std::uint32_t>(length - 2), 2);
    return;
  }
  if (length <= 7) {
    bits.Put(static_cast<std::uint32_t>(0b1100 | (length - 5)), 4);
    return;
  }
  const std::size_t groupMax = format::kLzsLengthGroupMax;
  bits.Put(0b1111, 4);
  std::size_t rest = length - 8;
  for (; rest >= groupMax; rest -= groupMax) bits.Put(static_cast<std::uint32_t>(groupMax), 4);
  bits.Put(static_cast<std::uint32_t>(rest), 4);
}

struct Match {
  std::size_t length = 0;
  std::size_t offset = 0;
};

// Hash chains over the block: for every pair of bytes, the positions where
// it starts, newest first.
class MatchFinder {
 public:
  explicit MatchFinder(std::span<const std::uint8_t> block)
      : m_block(block), m_head(kHashSize, kNone), m_previous(block.size(), kNone) {}

  void Insert(std::size_t position) {
    if (position + kMinMatch > m_block.size()) return;
    std::int32_t& head = m_head[Key(position)];
    m_previous[position] = head;
    head = static_cast<std::int32_t>(position);
  }

  // The longest earlier match for the bytes at `position`, within reach.
  Match Longest(std::size_t position) const {
    Match best;
    if (position + kMinMatch > m_block.size()) return best;
    const std::size_t limit = m_block.size() - position;
    std::int32_t candidate = m_head[Key(position)];
    for (std::size_t depth = 0; candidate != kNone && depth < kMaxChainDepth; ++depth) {
      const auto from = static_cast<std::size_t>(candidate);
      if (position - from > kMaxOffset) break;  // older ones are further still
      const std::size_t length = MatchLength(from, position, limit);
      if (length > best.length) {
        best = {length, position - from};
        if (length == limit) break;
      }
      candidate = m_previous[from];
    }
    return best;
  }

 private:
  std::size_t Key(std::size_t position) const {
    return (std::size_t{m_block[position]} << 8) | m_block[position + 1];
  }

  std::size_t MatchLength(std::size_t from, std::size_t position, std::size_t limit) const {
    std::size_t length = 0;
    while (length < limit && m_block[from + length] == m_block[position + length]) ++length;
    return length;
  }

  std::span<const std::uint8_t> m_block;
  std::vector<std::int32_t> m_head;
  std::vector<std::int32_t> m_previous;
};

}  // namespace

std::vector<std::uint8_t> LzsCompress(std::span<const std::uint8_t> block) {
  std::vector<std::uint8_t> out;
  out.reserve(block.size() + block.size() / 8 + 4);
  BitWriter bits(out);
  MatchFinder finder(block);
  std::size_t position = 0;
  while (position < block.size()) {
    const Match match = finder.Longest(position);
    if (match.length < kMinMatch) {
      PutLiteral(bits, block[position]);
      finder.Insert(position++);
      continue;
    }
    PutOffset(bits, match.offset);
    PutLength(bits, match.length);
    for (const std::size_t end = position + match.length; position < end; ++position) finder.Insert(position);
  }
  bits.Put(format::kLzsEndMarker, 9);
  bits.Flush();
  return out;
}

}  // namespace kestrow::mkdisc
