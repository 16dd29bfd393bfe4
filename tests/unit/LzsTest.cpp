// LZS streams: hand-assembled bit streams through the decoder, malformed
// streams that must end safely, and the encoder's streams back through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "LzsEncoder.h"
#include "recovery/Lzs.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = format::kBlockSize;

// Assembles a stream bit by bit, most significant bit first.
class Bits {
 public:
  Bits& Put(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (m_bits % 8 == 0) m_bytes.push_back(0);
      if ((value >> i) & 1u) m_bytes.back() |= static_cast<std::uint8_t>(0x80u >> (m_bits % 8));
      ++m_bits;
    }
    return *this;
  }
  Bits& Literal(unsigned byte) { return Put(byte, 9); }
  Bits& Literals(const Bytes& bytes) {
    for (std::uint8_t b : bytes) Literal(b);
    return *this;
  }
  Bits& Short(unsigned offset) { return Put(0b11, 2).Put(offset, 7); }
  Bits& Long(unsigned offset) { return Put(0b10, 2).Put(offset, 11); }
  Bits& Length(std::size_t n) {
    if (n <= 4) return Put(static_cast<unsigned>(n - 2), 2);
    if (n <= 7) return Put(0b11, 2).Put(static_cast<unsigned>(n - 5), 2);
    Put(0b1111, 4);
    for (n -= 8; n >= 15; n -= 15) Put(0b1111, 4);
    return Put(static_cast<unsigned>(n), 4);
  }
  Bits& End() { return Put(0x180, 9); }
  Bytes bytes() const { return m_bytes; }

 private:
  Bytes m_bytes;
  int m_bits = 0;
};

Bytes Repeat(std::uint8_t byte, std::size_t n) { return Bytes(n, byte); }
Bytes Str(const std::string& text) { return {text.begin(), text.end()}; }
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Sequence(std::size_t n) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return bytes;
}

// Decodes into a block buffer holding a pattern, with guard bytes on both
// sides; the stream lies in a buffer of exactly `length` bytes.
struct Decoded {
  int count = 0;
  Bytes bytes;          // the first `count` bytes of the block buffer
  bool clean = false;   // guards unchanged and zeros after `count`
};

Decoded Decode(const Bytes& stream, std::size_t length) {
  constexpr std::size_t kGuard = 64;
  const Bytes source(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
  Bytes buffer(kGuard + kBlock + kGuard, 0xA5);
  std::fill_n(buffer.begin() + kGuard, kBlock, 0x3C);
  Decoded result;
  result.count = LzsDecompress(source.data(), static_cast<int>(source.size()), buffer.data() + kGuard);
  if (result.count < 0 || result.count > static_cast<int>(kBlock)) return result;
  const auto block = buffer.begin() + kGuard;
  result.bytes.assign(block, block + result.count);
  result.clean = std::all_of(buffer.begin(), block, [](std::uint8_t b) { return b == 0xA5; }) &&
                 std::all_of(block + result.count, block + kBlock, [](std::uint8_t b) { return b == 0; }) &&
                 std::all_of(block + kBlock, buffer.end(), [](std::uint8_t b) { return b == 0xA5; });
  return result;
}
Decoded Decode(const Bytes& stream) { return Decode(stream, stream.size()); }

struct StreamCase {
  std::string name;
  Bytes stream;
  Bytes expected;
};

void ExpectDecodes(const std::vector<StreamCase>& cases) {
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded decoded = Decode(c.stream);
    EXPECT_EQ(decoded.count, static_cast<int>(c.expected.size()));
    EXPECT_EQ(decoded.bytes, c.expected);
    EXPECT_TRUE(decoded.clean);
  }
}

TEST(LzsDecompress, WellFormedStreams) {
  const Bytes seq127 = Sequence(127);
  const Bytes seq2047 = Sequence(2047);
  ExpectDecodes({
      {"end marker only", Bits().End().bytes(), {}},
      {"literal 0x41, offset 1 length 20", Bits().Literal(0x41).Short(1).Length(20).End().bytes(), Repeat(0x41, 21)},
      {"length code 1111 1111 0011 is 26", Bits().Literal('x').Short(1).Put(0b111111110011, 12).End().bytes(),
       Repeat('x', 27)},
      {"7-bit offset 127", Bits().Literals(seq127).Short(127).Length(4).End().bytes(),
       Concat(seq127, Bytes(seq127.begin(), seq127.begin() + 4))},
      {"11-bit offset 2047", Bits().Literals(seq2047).Long(2047).Length(5).End().bytes(),
       Concat(seq2047, Bytes(seq2047.begin(), seq2047.begin() + 5))},
      {"11-bit offset below 128", Bits().Literals(Str("abc")).Long(3).Length(4).End().bytes(), Str("abcabca")},
      {"overlapping copy, offset 2", Bits().Literals(Str("ab")).Short(2).Length(5).End().bytes(), Str("abababa")},
      {"nothing after the end marker is read", Bits().Literal('a').End().Literal('b').Literal('c').bytes(),
       Str("a")},
      {"no end marker: the padding ends it", Bits().Literal('a').bytes(), Str("a")},
  });
}

TEST(LzsDecompress, EveryLengthCodeForm) {
  std::vector<StreamCase> cases;
  for (std::size_t n : {2, 3, 4, 5, 6, 7, 8, 22, 23, 24, 37, 38, 300, 8191}) {
    cases.push_back({"length " + std::to_string(n), Bits().Literal('q').Short(1).Length(n).End().bytes(),
                     Repeat('q', n + 1)});
  }
  ExpectDecodes(cases);
}

TEST(LzsDecompress, MalformedStreamsStopSafely) {
  ExpectDecodes({
      {"offset reaches before the block", Bits().Literals(Str("ab")).Short(3).Length(2).Literal('c').End().bytes(),
       Str("ab")},
      {"11-bit offset 0", Bits().Literals(Str("ab")).Long(0).Length(2).Literal('c').End().bytes(), Str("ab")},
      {"11-bit offset past the output", Bits().Literal('a').Long(2000).Length(2).End().bytes(), Str("a")},
      {"reference overruns the block", Bits().Literal('z').Short(1).Length(9000).Literal('c').End().bytes(),
       Repeat('z', kBlock)},
      {"literal after a full block", Bits().Literal('z').Short(1).Length(8191).Literal('c').End().bytes(),
       Repeat('z', kBlock)},
      {"reference after a full block", Bits().Literal('z').Short(1).Length(8191).Short(1).Length(2).End().bytes(),
       Repeat('z', kBlock)},
  });
  EXPECT_EQ(LzsDecompress(nullptr, 0, nullptr), 0);
  const Bytes stream = Bits().Literal('a').End().bytes();
  std::uint8_t block[kBlock] = {};
  EXPECT_EQ(LzsDecompress(stream.data(), -1, block), 0);
}

// Cut anywhere, a stream yields a prefix of what the whole stream yields.
TEST(LzsDecompress, TruncatedStreamsYieldAPrefix) {
  // 'a' 'b' (18 bits), 11-bit offset 2 (to bit 31), length 300 (to bit 115), end marker.
  const Bytes stream = Bits().Literals(Str("ab")).Long(2).Length(300).End().bytes();
  const Decoded whole = Decode(stream);
  ASSERT_EQ(whole.count, 302);
  for (std::size_t length = 0; length < stream.size(); ++length) {
    SCOPED_TRACE("stored length " + std::to_string(length));
    const Decoded cut = Decode(stream, length);
    EXPECT_TRUE(cut.clean);
    ASSERT_LE(cut.count, whole.count);
    EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), whole.bytes.begin()));
  }
  EXPECT_EQ(Decode(stream, 2).bytes, Str("a"));    // inside the second literal
  EXPECT_EQ(Decode(stream, 3).bytes, Str("ab"));   // inside the offset
  EXPECT_EQ(Decode(stream, 10).bytes, Str("ab"));  // inside the length code
}

// Blocks of the kinds a volume holds.
Bytes Random(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

Bytes Text(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {
      "the",  "disc",   "volume", "of",    "and",   "a",     "sector", "file",   "to",      "catalogue",
      "in",   "is",     "block",  "data",  "with",  "from",  "group",  "table",  "recover", "Macintosh",
      "each", "folder", "read",   "drive", "which", "bytes", "length", "offset", "when",    "written"};
  std::mt19937 rng(seed);
  std::string text;
  while (text.size() < n) {
    text += kWords[rng() % std::size(kWords)];
    text += (rng() % 11 == 0) ? ".\r" : " ";
  }
  return Str(text.substr(0, n));
}

Bytes Periodic(std::size_t n, std::size_t period, unsigned seed) {
  const Bytes unit = Random(period, seed);
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = unit[i % period];
  return bytes;
}

Bytes Runs(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes;
  while (bytes.size() < n) bytes.insert(bytes.end(), std::min<std::size_t>(1 + rng() % 40, n - bytes.size()),
                                        static_cast<std::uint8_t>(rng() % 4));
  return bytes;
}

struct RoundTripCase {
  std::string name;
  Bytes block;
  double maxRatio;  // compressed size / block size at most this
};

TEST(LzsCompress, RoundTripsAndCompresses) {
  const std::vector<RoundTripCase> cases = {
      {"zeros", Repeat(0, kBlock), 0.04},
      {"text", Text(kBlock, 1), 0.6},
      {"random", Random(kBlock, 2), 9.0 / 8.0 + 0.001},
      {"period 3", Periodic(kBlock, 3, 3), 0.04},
      {"period 100 (7-bit offsets)", Periodic(kBlock, 100, 4), 0.06},
      {"period 1500 (11-bit offsets)", Periodic(kBlock, 1500, 5), 0.25},
      {"period 3000 (beyond reach)", Periodic(kBlock, 3000, 6), 9.0 / 8.0 + 0.001},
      {"short runs", Runs(kBlock, 7), 0.5},
      {"text, 100 bytes", Text(100, 8), 1.2},
      {"empty", {}, 1},
      {"1 byte", Str("x"), 3},
      {"2 bytes", Str("xx"), 2},
      {"5 bytes", Str("xxxxx"), 1},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes stream = mkdisc::LzsCompress(c.block);
    EXPECT_LE(static_cast<double>(stream.size()), c.maxRatio * static_cast<double>(c.block.size()) + 2);
    const Decoded decoded = Decode(stream);
    EXPECT_EQ(decoded.bytes, c.block);
    EXPECT_TRUE(decoded.clean);
    // The stream ends with its own end marker: bytes after it change nothing.
    EXPECT_EQ(Decode(Concat(stream, {0x12, 0x34, 0x56, 0x78})).bytes, c.block);
  }
}

struct EncodeCase {
  std::string name;
  Bytes block;
  Bytes stream;
};

TEST(LzsCompress, ChoosesTheShortOffsetFormAndLongestMatch) {
  const Bytes seq130 = Sequence(130);
  const std::vector<EncodeCase> cases = {
      {"offset 3 in 7 bits", Str("abcabc"), Bits().Literals(Str("abc")).Short(3).Length(3).End().bytes()},
      {"offset 1 run", Repeat('a', 10), Bits().Literal('a').Short(1).Length(9).End().bytes()},
      {"offset 130 in 11 bits", Concat(seq130, Bytes(seq130.begin(), seq130.begin() + 3)),
       Bits().Literals(seq130).Long(130).Length(3).End().bytes()},
      {"longest, not nearest", Str("abcdXabYabcd"),
       Bits().Literals(Str("abcdX")).Short(5).Length(2).Literal('Y').Short(8).Length(4).End().bytes()},
  };
  for (const EncodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mkdisc::LzsCompress(c.block), c.stream);
  }
}

}  // namespace
}  // namespace kestrow
