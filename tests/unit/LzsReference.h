// The bit-by-bit LZS decoder, kept as the reference that the fast decoder in
// src/core/recovery/Lzs.cpp must match byte for byte on every input. It reads
// one token at a time through a window refilled a byte at a time, and copies
// overlapping references one byte at a time.
#pragma once

#include <cstdint>
#include <cstring>

#include "volume/PackedFormat.h"

namespace kestrow::reference {
namespace detail {

constexpr int kBlock = static_cast<int>(format::kBlockSize);
constexpr unsigned kLengthGroupMax = format::kLzsLengthGroupMax;

// Most-significant-bit-first reader over [next, end). Bits wait in a 64-bit
// window that is refilled a byte at a time, so no byte past `end` is read.
class BitReader {
 public:
  BitReader(const std::uint8_t* next, const std::uint8_t* end) : m_next(next), m_end(end) {}

  // True when `count` (at most 32) more bits are available.
  bool Has(int count) {
    while (m_bits <= 56 && m_next != m_end) {
      m_window |= std::uint64_t{*m_next++} << (56 - m_bits);
      m_bits += 8;
    }
    return m_bits >= count;
  }

  // Takes `count` (1 to 32) bits; Has(count) must have said yes.
  unsigned Take(int count) {
    const auto value = static_cast<unsigned>(m_window >> (64 - count));
    m_window <<= count;
    m_bits -= count;
    return value;
  }

 private:
  const std::uint8_t* m_next;
  const std::uint8_t* m_end;
  std::uint64_t m_window = 0;
  int m_bits = 0;
};

// Reads a length code: 00 = 2, 01 = 3, 10 = 4, 1100..1110 = 5..7, 1111 = 8
// plus 4-bit groups (1111 adds 15 and goes on, anything less adds itself and
// ends). Lengths beyond `limit` stop being read: the copy is cut anyway.
// False when the stream ends inside the code.
inline bool ReadLength(BitReader& bits, int limit, int& length) {
  if (!bits.Has(2)) return false;
  const unsigned first = bits.Take(2);
  if (first < 3) {
    length = static_cast<int>(first) + 2;
    return true;
  }
  if (!bits.Has(2)) return false;
  const unsigned second = bits.Take(2);
  if (second < 3) {
    length = static_cast<int>(second) + 5;
    return true;
  }
  length = 8;
  while (length <= limit) {
    if (!bits.Has(4)) return false;
    const unsigned group = bits.Take(4);
    length += static_cast<int>(group);
    if (group != kLengthGroupMax) break;
  }
  return true;
}

// Copies `length` bytes from `offset` bytes back, one at a time in ascending
// order where source and destination overlap.
inline void CopyBack(std::uint8_t* out, unsigned offset, int length) {
  const std::uint8_t* from = out - offset;
  if (offset >= static_cast<unsigned>(length)) {
    std::memcpy(out, from, static_cast<std::size_t>(length));
    return;
  }
  for (int i = 0; i < length; ++i) out[i] = from[i];
}

}  // namespace detail

inline int LzsDecompress(const std::uint8_t* src, int srcLength, std::uint8_t* dst) {
  using namespace detail;
  if (src == nullptr || dst == nullptr || srcLength <= 0) return 0;
  BitReader bits(src, src + srcLength);
  int produced = 0;
  for (;;) {
    if (!bits.Has(9)) break;  // no whole token left
    if (bits.Take(1) == 0) {  // literal
      if (produced == kBlock) break;
      dst[produced++] = static_cast<std::uint8_t>(bits.Take(8));
      continue;
    }
    unsigned offset = 0;
    if (bits.Take(1) == 1) {  // 7-bit offset; 0 is the end marker
      offset = bits.Take(7);
      if (offset == 0) break;
    } else {
      if (!bits.Has(11)) break;
      offset = bits.Take(11);
    }
    if (offset == 0 || offset > static_cast<unsigned>(produced)) break;  // before the block
    const int room = kBlock - produced;
    int length = 0;
    if (!ReadLength(bits, room, length)) break;
    const bool overrun = length > room;
    CopyBack(dst + produced, offset, overrun ? room : length);
    produced += overrun ? room : length;
    if (overrun) break;
  }
  return produced;
}

}  // namespace kestrow::reference
