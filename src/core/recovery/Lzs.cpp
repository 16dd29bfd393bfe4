#include "recovery/Lzs.h"

#include <bit>
#include <cstddef>
#include <cstring>
#if defined(_MSC_VER)
#include <cstdlib>
#endif

#include "volume/PackedFormat.h"

// How the decoder is fast and still exact.
//
// Bits are read through a bit position in the stream: a 64-bit big-endian
// load at the position's byte, shifted by its bit, gives the next 57 or more
// bits in one go. That load is made only where eight bytes of the stream are
// left; closer to the end the window is put together from the bytes that are
// there, so nothing past the stored length is read.
//
// Most tokens go through a fast path that decodes a literal or an ordinary
// string reference without branching on which it is, and copies in whole
// 8-byte chunks. It runs only where neither the end of the stream nor the end
// of the block can be met, and leaves every unusual token (the end marker,
// offsets below 8 or before the block, long length codes) to a careful path
// that follows the format's rules step by step, as the bit-by-bit decoder did.
//
// Whole-word writes run past the end of a token, so decoding goes into a
// scratch block, and exactly the bytes produced are then copied to the
// caller's block: nothing past them is touched.

namespace kestrow {
namespace {

constexpr int kBlock = static_cast<int>(format::kBlockSize);
constexpr std::uint64_t kGroupMax = format::kLzsLengthGroupMax;
constexpr std::uint64_t kEightGroupsOfMax = 0xFFFFFFFFu;  // eight 1111 groups
constexpr int kEightGroupsLength = 8 * static_cast<int>(kGroupMax);

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
inline void Store64(std::uint8_t* p, std::uint64_t value) { std::memcpy(p, &value, sizeof value); }
inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
inline void Store32(std::uint8_t* p, std::uint32_t value) { std::memcpy(p, &value, sizeof value); }
inline std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}
inline void Store16(std::uint8_t* p, std::uint16_t value) { std::memcpy(p, &value, sizeof value); }

// Reverses the order of the 8 bytes of `value`.
inline std::uint64_t ByteSwap64(std::uint64_t value) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(value);
#elif defined(_MSC_VER)
  return _byteswap_uint64(value);
#else
  std::uint64_t swapped = 0;
  for (int i = 0; i < 8; ++i) swapped = (swapped << 8) | ((value >> (8 * i)) & 0xFF);
  return swapped;
#endif
}

// Eight bytes as a big-endian number: one load and, on a little-endian
// machine, one byte swap.
inline std::uint64_t LoadBe64(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::big) return Load64(p);
  return ByteSwap64(Load64(p));
}

// The stream as a bit position over its bytes.
class BitStream {
 public:
  BitStream(const std::uint8_t* bytes, std::uint64_t size) : m_bytes(bytes), m_size(size) {}

  std::uint64_t Left() const { return m_size * 8 - m_position; }
  // True when Window() is one load: eight bytes from the position's byte on.
  bool Wide() const { return (m_position >> 3) + 8 <= m_size; }
  // The next bits, most significant first: at least 57 of them are the
  // stream's, or all that is left followed by zeros.
  std::uint64_t Window() const {
    const std::uint64_t byte = m_position >> 3;
    if (byte + 8 <= m_size) return LoadBe64(m_bytes + byte) << (m_position & 7);
    std::uint64_t window = 0;
    for (std::uint64_t i = byte; i < byte + 8; ++i) window = (window << 8) | (i < m_size ? m_bytes[i] : 0u);
    return window << (m_position & 7);
  }
  void Skip(std::uint64_t count) { m_position += count; }

  const std::uint8_t* bytes() const { return m_bytes; }
  std::uint64_t size() const { return m_size; }
  std::uint64_t position() const { return m_position; }
  void set_position(std::uint64_t position) { m_position = position; }

 private:
  const std::uint8_t* m_bytes;
  std::uint64_t m_size;
  std::uint64_t m_position = 0;
};

// Reads a length code: 00 = 2, 01 = 3, 10 = 4, 1100..1110 = 5..7, 1111 = 8
// plus 4-bit groups (1111 adds 15 and goes on, anything less adds itself and
// ends). Groups stop being read once the length exceeds `limit`: the copy is
// cut there anyway. False when the stream ends inside the part of the code
// that is read.
bool ReadLength(BitStream& bits, int limit, int& length) {
  if (bits.Left() < 2) return false;
  const auto head = static_cast<unsigned>(bits.Window() >> 60);
  if (head < 0b1100) {
    length = static_cast<int>(head >> 2) + 2;
    bits.Skip(2);
    return true;
  }
  if (bits.Left() < 4) return false;
  bits.Skip(4);
  if (head < 0b1111) {
    length = static_cast<int>(head) - 0b1100 + 5;
    return true;
  }
  length = 8;
  while (length <= limit) {
    const std::uint64_t window = bits.Window();
    // Eight groups of 1111 at once, when the limit would let all of them be read.
    if (length + kEightGroupsLength - static_cast<int>(kGroupMax) <= limit && bits.Left() >= 32 &&
        (window >> 32) == kEightGroupsOfMax) {
      bits.Skip(32);
      length += kEightGroupsLength;
      continue;
    }
    if (bits.Left() < 4) return false;
    const auto group = static_cast<unsigned>(window >> 60);
    bits.Skip(4);
    length += static_cast<int>(group);
    if (group != kGroupMax) break;
  }
  return true;
}

// Copies `n` (0 to 7) bytes from `from` to `out`; the source ends at or
// before the destination starts.
inline void CopyShort(std::uint8_t* out, const std::uint8_t* from, int n) {
  if (n >= 4) {
    const std::uint32_t head = Load32(from);
    const std::uint32_t tail = Load32(from + n - 4);
    Store32(out, head);
    Store32(out + n - 4, tail);
  } else if (n >= 2) {
    const std::uint16_t head = Load16(from);
    const std::uint16_t tail = Load16(from + n - 2);
    Store16(out, head);
    Store16(out + n - 2, tail);
  } else if (n == 1) {
    out[0] = from[0];
  }
}

// Copies `n` bytes from `offset` bytes back with the result of a forward copy
// one byte at a time, writing nothing past out[n - 1].
void CopyBack(std::uint8_t* out, unsigned offset, int n) {
  const std::uint8_t* from = out - offset;
  if (n < 8 && offset >= static_cast<unsigned>(n)) {
    CopyShort(out, from, n);
    return;
  }
  if (offset == 1) {
    std::memset(out, *from, static_cast<std::size_t>(n));
    return;
  }
  // A period below 8 repeats: once `step` (a multiple of it, at least 8)
  // bytes are written, the rest copies from `step` bytes back. Every 8-byte
  // chunk then reads only bytes already final.
  const int step = offset >= 8 ? static_cast<int>(offset) : static_cast<int>(offset * ((8 + offset - 1) / offset));
  int i = 0;
  for (; i < n && i < step && offset < 8; ++i) out[i] = from[i];
  for (; i + 8 <= n; i += 8) Store64(out + i, Load64(out + i - step));
  // The last chunk may overlap the one before; its source must lie inside
  // what the copy reaches (before `out` only for a period of 8 or more).
  if (i < n && n - 8 >= (offset >= 8 ? 0 : step)) {
    Store64(out + n - 8, Load64(out + n - 8 - step));
    return;
  }
  for (; i < n; ++i) out[i] = out[i - step];
}

// Decodes one token of any kind, exactly as the format and its failure rules
// say, with no assumption about what is left of the stream or the block.
// False when decoding ends: at the end marker, at the end of the stream, at
// an offset of 0 or one before the block, or when the block is full.
bool CarefulToken(BitStream& bits, std::uint8_t* out, int& produced) {
  if (bits.Left() < 9) return false;  // no whole token left
  const std::uint64_t window = bits.Window();
  if ((window >> 63) == 0) {  // literal
    if (produced == kBlock) return false;
    out[produced++] = static_cast<std::uint8_t>(window >> 55);
    bits.Skip(9);
    return true;
  }
  unsigned offset = 0;
  if (((window >> 62) & 1) != 0) {  // 7-bit offset; 0 is the end marker
    offset = static_cast<unsigned>(window >> 55) & 0x7F;
    if (offset == 0) return false;
    bits.Skip(9);
  } else {
    if (bits.Left() < 13) return false;
    offset = static_cast<unsigned>(window >> 51) & 0x7FF;
    bits.Skip(13);
  }
  if (offset == 0 || offset > static_cast<unsigned>(produced)) return false;  // before the block
  const int room = kBlock - produced;
  int length = 0;
  if (!ReadLength(bits, room, length)) return false;
  const bool overrun = length > room;
  const int n = overrun ? room : length;
  CopyBack(out + produced, offset, n);
  produced += n;
  return !overrun;
}

// Picks `ifSet` where `mask` is all ones and `ifClear` where it is zero:
// arithmetic rather than a branch whose outcome would follow the data.
constexpr std::uint64_t Select(std::uint64_t mask, std::uint64_t ifSet, std::uint64_t ifClear) {
  return ifClear ^ ((ifSet ^ ifClear) & mask);
}

// One step of the fast path takes at most 54 bits (six literals, or up to
// four literals and a reference of at most 21 bits) of the 57 that a wide
// window holds. It produces at most 27 bytes and writes at most 29 (five
// literals' word and three 8-byte chunks of a reference), so with this much
// room left it neither meets the end of the block nor writes past it.
constexpr int kFastRoom = 32;
static_assert(5 + 3 * 8 <= kFastRoom);

// Six literals in a row: their top bits, 9 bits apart, are all 0.
constexpr std::uint64_t kSixLiteralFlags = (std::uint64_t{1} << 63) | (std::uint64_t{1} << 54) |
                                           (std::uint64_t{1} << 45) | (std::uint64_t{1} << 36) |
                                           (std::uint64_t{1} << 27) | (std::uint64_t{1} << 18);

// Writes the six 9-bit tokens at the top of `window` as if all were
// literals: their low 8 bits go to at[0..5] (at[6], at[7] get garbage). Only
// those that are literals are then counted as produced.
inline void WriteSixLiterals(std::uint64_t window, std::uint8_t* at) {
  if constexpr (std::endian::native == std::endian::little) {
    // Token k's byte is at bits 55 - 9k. Field i = 5 - k, at 9i after a
    // shift by 10, moves down by i bits to 8i: by 1, 2 and 4 in three steps.
    constexpr auto field = [](int i) { return std::uint64_t{0xFF} << (9 * i); };
    std::uint64_t y = (window >> 10) & (field(0) | field(1) | field(2) | field(3) | field(4) | field(5));
    constexpr std::uint64_t moveBy1 = field(1) | field(3) | field(5);
    y = (y & ~moveBy1) | ((y & moveBy1) >> 1);
    constexpr std::uint64_t moveBy2 = (std::uint64_t{0xFF} << 18) | (std::uint64_t{0xFF} << 26);
    y = (y & ~moveBy2) | ((y & moveBy2) >> 2);
    constexpr std::uint64_t moveBy4 = (std::uint64_t{0xFF} << 36) | (std::uint64_t{0xFF} << 44);
    y = (y & ~moveBy4) | ((y & moveBy4) >> 4);
    // Field i is now byte i, so token k is byte 5 - k: reverse the bytes.
    Store64(at, ByteSwap64(y) >> 16);
  } else {
    for (int k = 0; k < 6; ++k) at[k] = static_cast<std::uint8_t>(window >> (55 - 9 * k));
  }
}

// What the first 8 bits of a length code say, when the code has at most one
// extra group: 00/01/10 are 2 bits for 2..4, 1100..1110 4 bits for 5..7,
// 1111 and a group 8 bits for 8 + group. A second 1111 means more groups
// follow: those codes are marked and left to the careful path.
struct LengthCodeEntry {
  std::uint8_t length;
  std::uint8_t bits;  // 0 for a code with more groups
};

struct LengthCodeTable {
  LengthCodeEntry entries[256];
};

constexpr LengthCodeTable MakeLengthCodeTable() {
  LengthCodeTable table{};
  for (unsigned code = 0; code < 256; ++code) {
    const unsigned head = code >> 4;
    const unsigned group = code & 15;
    LengthCodeEntry& entry = table.entries[code];
    if (head < 0b1100) {
      entry = {static_cast<std::uint8_t>((head >> 2) + 2), 2};
    } else if (head < 0b1111) {
      entry = {static_cast<std::uint8_t>(head - 0b1100 + 5), 4};
    } else if (group < kGroupMax) {
      entry = {static_cast<std::uint8_t>(8 + group), 8};
    } else {
      entry = {0, 0};
    }
  }
  return table;
}

constexpr LengthCodeTable kLengthCodes = MakeLengthCodeTable();

// An ordinary string reference at the top of `window` (whose first bit is
// 1): an offset from 8 to the bytes produced and a length code of at most one
// extra group (a length of at most 22). Both offset forms are decoded by
// arithmetic and the length code by a table, rather than by branches on the
// data. Copies the reference and returns the number of bits it took, or
// returns 0 for a token left to the careful path.
inline std::uint64_t FastReference(std::uint64_t w, std::uint8_t* block, std::uint8_t*& at) {
  const std::uint64_t shortOffset = (w >> 62) & 1;
  // 1 1 + 7-bit offset, or 1 0 + 11-bit offset; the length code follows.
  const std::uint64_t lengthAt = 13 - 4 * shortOffset;
  const std::uint64_t offset = (w << 2) >> (53 + 4 * shortOffset);
  const LengthCodeEntry code = kLengthCodes.entries[(w << lengthAt) >> 56];
  // One branch for every reference the fast path leaves alone. At least 8
  // bytes are produced, so the unsigned test is offset < 8 || offset > produced.
  const auto produced = static_cast<std::uint64_t>(at - block);
  if ((offset - 8 > produced - 8) || code.bits == 0) [[unlikely]] return 0;

  // Each chunk reads only bytes before the ones it writes (offset >= 8).
  const std::uint8_t* from = at - offset;
  Store64(at, Load64(from));
  Store64(at + 8, Load64(from + 8));
  if (code.length > 16) Store64(at + 16, Load64(from + 16));
  at += code.length;
  return lengthAt + code.bits;
}

// Runs the fast path for as long as it may and returns the new number of
// bytes produced; the stream's position moves on past what it decoded. Each
// step loads a window at the position and takes the literals that lead it
// (counted from their flag bits, not one by one) and the reference after
// them. The first token it cannot take ends the run, untouched.
int DecodeFast(BitStream& stream, std::uint8_t* block, int produced) {
  if (produced < 8 || stream.size() < 8) return produced;
  const std::uint64_t wideEnd = (stream.size() - 7) * 8;  // positions with eight bytes from their byte on
  const std::uint8_t* const bytes = stream.bytes();
  std::uint8_t* at = block + produced;
  std::uint8_t* const fastEnd = block + (kBlock - kFastRoom);
  std::uint64_t position = stream.position();
  while (at <= fastEnd && position < wideEnd) {
    std::uint64_t window = LoadBe64(bytes + (position >> 3)) << (position & 7);
    if ((window & kSixLiteralFlags) == 0) {  // six literals: no need to count them
      WriteSixLiterals(window, at);
      at += 6;
      position += 54;
      continue;
    }
    // The literals that lead the window, up to five: 9 bits each.
    const int literalBits = std::countl_zero((window & kSixLiteralFlags) | (std::uint64_t{1} << 9));
    WriteSixLiterals(window, at);
    at += (literalBits * 29) >> 8;  // literalBits / 9
    position += static_cast<std::uint64_t>(literalBits);
    if (literalBits > 36) continue;  // 57 bits leave room for a reference only after 4 literals or fewer
    window <<= literalBits;
    const std::uint64_t used = FastReference(window, block, at);
    if (used == 0) break;
    position += used;
  }
  stream.set_position(position);
  return static_cast<int>(at - block);
}

}  // namespace

int LzsDecompress(const std::uint8_t* src, int srcLength, std::uint8_t* dst) {
  if (src == nullptr || dst == nullptr || srcLength <= 0) return 0;
  std::uint8_t block[kBlock];
  BitStream bits(src, static_cast<std::uint64_t>(srcLength));
  int produced = 0;
  do {
    produced = DecodeFast(bits, block, produced);
  } while (CarefulToken(bits, block, produced));
  std::memcpy(dst, block, static_cast<std::size_t>(produced));
  return produced;
}

}  // namespace kestrow
