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
// Most tokens go through a fast path. It reads bits through a 64-bit buffer
// refilled in whole bytes (one big-endian load per refill, so a refill leaves
// 56 to 63 bits held), and decodes two tokens per refill: a literal, or an
// ordinary string reference whose length code has at most one extra group.
// A reference's bit count comes from one table lookup on bits 9 to 16 of the
// token, which hold the short form's length code and the start of the long
// form's, and its offset and length from one shift that lines both forms up;
// it is copied in whole 8-byte chunks. The fast path runs in batches of rounds
// that can neither load past the stream's end nor write past the block's, so
// each round checks nothing but the token itself, and offsets are checked
// against the bytes produced only while they could reach before the block.
// Runs of literals are written six bytes at a time with one store.
//
// Every token the fast path does not take (the end marker, an offset of 0 or
// before the block, a length code with more groups, anything within reach of
// the stream's or the block's end) goes to a careful path that follows the
// format's rules step by step, as the bit-by-bit decoder did.
//
// Whole-word writes run past the end of a token, but never past the block:
// what lies after the bytes produced is set to zeros at the end.

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

// The fast path's bits: the top `count` bits of `bits` are the stream's next
// ones, and `next` is the first byte whose bits are not all held. A refill
// puts a big-endian load at `next` below the bits held (where the two meet
// they hold the same stream bits) and moves `next` on by the whole bytes it
// added, so that 56 to 63 bits are held after it.
struct BitBuffer {
  std::uint64_t bits = 0;
  unsigned count = 0;
  const std::uint8_t* next = nullptr;

  // Needs eight bytes of the stream from `next` on.
  void Refill() {
    bits |= LoadBe64(next) >> count;
    next += (count >> 3) ^ 7;  // (63 - count) / 8 whole bytes added
    count |= 56;
  }
  void Consume(unsigned n) {
    bits <<= n;
    count -= n;
  }
  std::uint64_t Position(const std::uint8_t* start) const {
    return static_cast<std::uint64_t>(next - start) * 8 - count;
  }
};

// What the first 8 bits of a length code say, when the code has at most one
// extra group: 00/01/10 are 2 bits for 2..4, 1100..1110 4 bits for 5..7,
// 1111 and a group 8 bits for 8 + group. A second 1111 means more groups
// follow: those codes are marked (0 bits) and left to the careful path.
struct LengthCode {
  std::uint8_t length;
  std::uint8_t bits;
};

constexpr LengthCode ReadLengthCode(unsigned code) {
  const unsigned head = code >> 4;
  const unsigned group = code & 15;
  if (head < 0b1100) return {static_cast<std::uint8_t>((head >> 2) + 2), 2};
  if (head < 0b1111) return {static_cast<std::uint8_t>(head - 0b1100 + 5), 4};
  if (group < kGroupMax) return {static_cast<std::uint8_t>(8 + group), 8};
  return {0, 0};
}

// Tables of the fast path, by 8 bits of the stream:
// - lengths: a reference's length by its length code's first 8 bits, 0 for
//   a code with more groups;
// - referenceBits: the bits a whole reference takes, by bits 9..16 of its
//   token: the long form's (1 0, an 11-bit offset, the code from bit 13) in
//   the low byte, the short form's (1 1, a 7-bit offset, the code from bit
//   9) in the high byte. Bits 9..16 hold the short form's code, and the first
//   four bits of the long form's, which are all that its bit count needs.
struct FastTables {
  std::uint8_t lengths[256];
  std::uint16_t referenceBits[256];
};

constexpr FastTables MakeFastTables() {
  FastTables tables{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    tables.lengths[byte] = ReadLengthCode(byte).length;
    const unsigned longHead = byte & 15;
    const unsigned longCodeBits = longHead < 0b1100 ? 2 : longHead < 0b1111 ? 4 : 8;
    const unsigned shortCodeBits = ReadLengthCode(byte).bits == 0 ? 8 : ReadLengthCode(byte).bits;
    tables.referenceBits[byte] = static_cast<std::uint16_t>((13 + longCodeBits) | (9 + shortCodeBits) << 8);
  }
  return tables;
}

constexpr FastTables kFast = MakeFastTables();

// The longest reference the fast path copies (1111 and a group of 1110),
// and what it writes for one: three 8-byte chunks.
constexpr int kFastLengthMax = 8 + static_cast<int>(kGroupMax) - 1;
constexpr int kFastCopy = 24;
static_assert(kFastLengthMax <= kFastCopy);

// A round of the fast path is one refill and then two tokens of at most 21
// bits each (a long offset's 13 and an 8-bit length code), or two to six
// literals in a row (at most 54 bits). It produces at most two references'
// bytes, and writes at most one reference's bytes and a copy's chunks past
// the bytes produced before it.
constexpr unsigned kTokenBitsMax = 13 + 8;
constexpr std::uint64_t kRoundBits = 54;
constexpr int kRoundProduced = 2 * kFastLengthMax;
constexpr int kRoundWritten = kFastLengthMax + kFastCopy;
static_assert(2 * kTokenBitsMax <= kRoundBits && kRoundBits <= 56);  // a refill leaves at least 56 bits
static_assert(6 <= kRoundProduced && 8 <= kRoundWritten);            // literals: one 8-byte store

// Offsets are 11 bits: once this many bytes are produced, none can reach
// before the block.
constexpr int kOffsetMax = 2047;

// Literals in a row: their top bits, 9 bits apart, are all 0.
constexpr std::uint64_t kTwoLiteralFlags = (std::uint64_t{1} << 63) | (std::uint64_t{1} << 54);
constexpr std::uint64_t kSixLiteralFlags = kTwoLiteralFlags | (std::uint64_t{1} << 45) | (std::uint64_t{1} << 36) |
                                           (std::uint64_t{1} << 27) | (std::uint64_t{1} << 18);

// Writes the bytes of the six literals at the top of `window` to at[0..5]
// with one store (at[6], at[7] get garbage).
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

// Decodes the token at the top of `in`: a literal, or a string reference
// with an offset from 1 to the bytes produced and a length code of at most
// one extra group. False, with nothing consumed or written, for any other
// token. `kNear`: offsets may still reach before the block.
template <bool kNear>
inline bool FastToken(BitBuffer& in, std::uint8_t* block, std::uint8_t*& at) {
  const std::uint64_t w = in.bits;
  if (static_cast<std::int64_t>(w) >= 0) {  // literal
    *at++ = static_cast<std::uint8_t>(w >> 55);
    in.Consume(9);
    return true;
  }
  const unsigned shortBy8 = static_cast<unsigned>(w >> 59) & 8;  // 8 for the short form
  const unsigned taken = kFast.referenceBits[(w >> 47) & 0xFF] >> shortBy8;  // in the low 6 bits
  // With the flags dropped and a short offset moved down by 4, both forms
  // hold the offset in the top 11 bits and the length code after them.
  const std::uint64_t lined = (w << 2) >> (shortBy8 >> 1);
  const std::uint64_t offset = lined >> 53;
  const unsigned length = kFast.lengths[(lined >> 45) & 0xFF];
  if (length == 0) [[unlikely]] return false;
  if (kNear && offset > static_cast<std::uint64_t>(at - block)) [[unlikely]] return false;
  if (offset < 8) [[unlikely]] {
    if (offset == 0) return false;
    CopyBack(at, static_cast<unsigned>(offset), static_cast<int>(length));
  } else {  // each chunk reads only bytes before the ones it writes
    const std::uint8_t* from = at - offset;
    Store64(at, Load64(from));
    Store64(at + 8, Load64(from + 8));
    Store64(at + 16, Load64(from + 16));
  }
  at += length;
  in.Consume(taken & 63);
  return true;
}

// Runs `rounds` rounds, or fewer: false at the first token the fast path
// does not take, which is left untouched.
template <bool kNear>
bool RunRounds(BitBuffer& in, std::uint8_t* block, std::uint8_t*& at, int rounds) {
  for (; rounds > 0; --rounds) {
    in.Refill();
    if ((in.bits & kSixLiteralFlags) == 0) [[unlikely]] {
      WriteSixLiterals(in.bits, at);
      at += 6;
      in.Consume(54);
      continue;
    }
    if ((in.bits & kTwoLiteralFlags) == 0) [[unlikely]] {  // two to five literals, then a reference
      const int literalBits = std::countl_zero((in.bits & kSixLiteralFlags) | (std::uint64_t{1} << 9));
      WriteSixLiterals(in.bits, at);
      at += literalBits / 9;
      in.Consume(static_cast<unsigned>(literalBits));
      continue;
    }
    if (!FastToken<kNear>(in, block, at) || !FastToken<kNear>(in, block, at)) return false;
  }
  return true;
}

// Runs the fast path for as long as it may and returns the new number of
// bytes produced; the stream's position moves on past what it decoded. It
// runs in batches of as many rounds as can neither load past the stream's
// end nor write past the block's, and stops untouched at the first token it
// does not take.
int DecodeFast(BitStream& stream, std::uint8_t* block, int produced) {
  if (stream.size() < 16) return produced;
  const std::uint8_t* const bytes = stream.bytes();
  // A refill loads eight bytes at `next`, and next * 8 <= position + 63.
  const std::uint64_t lastRefill = (stream.size() - 8) * 8 - 63;
  if (stream.position() > lastRefill) return produced;
  BitBuffer in;
  in.next = bytes + (stream.position() >> 3);
  in.Refill();
  in.Consume(static_cast<unsigned>(stream.position() & 7));
  std::uint8_t* at = block + produced;
  for (;;) {
    const std::uint64_t position = in.Position(bytes);
    const auto room = static_cast<int>(block + kBlock - at);
    if (position > lastRefill || room < kRoundWritten) break;
    const std::uint64_t byBits = (lastRefill - position) / kRoundBits + 1;
    const int byRoom = (room - kRoundWritten) / kRoundProduced + 1;
    const int rounds = byBits < static_cast<std::uint64_t>(byRoom) ? static_cast<int>(byBits) : byRoom;
    const bool allTaken = at - block < kOffsetMax ? RunRounds<true>(in, block, at, rounds)
                                                   : RunRounds<false>(in, block, at, rounds);
    if (!allTaken) break;
  }
  stream.set_position(in.Position(bytes));
  return static_cast<int>(at - block);
}

}  // namespace

int LzsDecompress(const std::uint8_t* src, int srcLength, std::uint8_t* dst) {
  if (dst == nullptr) return 0;
  int produced = 0;
  if (src != nullptr && srcLength > 0) {
    BitStream bits(src, static_cast<std::uint64_t>(srcLength));
    do {
      produced = DecodeFast(bits, dst, produced);
    } while (CarefulToken(bits, dst, produced));
  }
  std::memset(dst + produced, 0, static_cast<std::size_t>(kBlock - produced));
  return produced;
}

}  // namespace kestrow
