// The fast LZS decoder against the bit-by-bit reference decoder: on random
// bytes, on random token sequences (valid and hostile), on mutated and
// truncated encoder output, both must return the same count and the same
// bytes (the fast one zeros the rest of a block buffer that starts out
// holding a pattern), and neither may touch the guard bytes around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "LzsEncoder.h"
#include "LzsReference.h"
#include "recovery/Lzs.h"
#include "volume/PackedFormat.h"

namespace kestrow {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = format::kBlockSize;
constexpr std::size_t kGuard = 32;

struct Outcome {
  int count = 0;
  Bytes buffer;  // guard, block, guard
};

using Decoder = int (*)(const std::uint8_t*, int, std::uint8_t*);

// The stream is copied into a heap buffer of exactly its length, so that a
// sanitizer build sees any read past it.
Outcome Run(Decoder decode, const Bytes& stream, std::size_t length, std::uint8_t fill) {
  std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[std::max<std::size_t>(length, 1)]);
  std::copy_n(stream.begin(), length, source.get());
  Outcome outcome;
  outcome.buffer.assign(kGuard + kBlock + kGuard, 0x5A);
  std::fill_n(outcome.buffer.begin() + kGuard, kBlock, fill);
  outcome.count = decode(source.get(), static_cast<int>(length), outcome.buffer.data() + kGuard);
  return outcome;
}

// True (and nothing reported) when both decoders agree on stream[0, length).
::testing::AssertionResult SameAsReference(const Bytes& stream, std::size_t length) {
  for (const std::uint8_t fill : {std::uint8_t{0}, std::uint8_t{0xC3}}) {
    const Outcome fast = Run(&LzsDecompress, stream, length, fill);
    Outcome slow = Run(&reference::LzsDecompress, stream, length, fill);
    // The decoder zeros the block after what it produces; the reference leaves it.
    if (slow.count >= 0 && slow.count <= static_cast<int>(kBlock)) {
      std::fill(slow.buffer.begin() + static_cast<std::ptrdiff_t>(kGuard) + slow.count,
                slow.buffer.begin() + static_cast<std::ptrdiff_t>(kGuard + kBlock), std::uint8_t{0});
    }
    if (fast.count != slow.count) {
      return ::testing::AssertionFailure() << "count " << fast.count << ", reference " << slow.count
                                           << " (stored length " << length << ")";
    }
    const auto diff = std::mismatch(fast.buffer.begin(), fast.buffer.end(), slow.buffer.begin());
    if (diff.first != fast.buffer.end()) {
      const auto at = static_cast<long>(diff.first - fast.buffer.begin()) - static_cast<long>(kGuard);
      return ::testing::AssertionFailure() << "buffers differ at block byte " << at << " (stored length "
                                           << length << ", count " << fast.count << ")";
    }
    const bool guardsKept =
        std::all_of(fast.buffer.begin(), fast.buffer.begin() + kGuard, [](std::uint8_t b) { return b == 0x5A; }) &&
        std::all_of(fast.buffer.end() - kGuard, fast.buffer.end(), [](std::uint8_t b) { return b == 0x5A; });
    if (!guardsKept) return ::testing::AssertionFailure() << "a guard byte was written";
  }
  return ::testing::AssertionSuccess();
}
::testing::AssertionResult SameAsReference(const Bytes& stream) { return SameAsReference(stream, stream.size()); }

class BitSink {
 public:
  void Put(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (m_bits % 8 == 0) m_bytes.push_back(0);
      if ((value >> i) & 1u) m_bytes.back() |= static_cast<std::uint8_t>(0x80u >> (m_bits % 8));
      ++m_bits;
    }
  }
  const Bytes& bytes() const { return m_bytes; }

 private:
  Bytes m_bytes;
  int m_bits = 0;
};

// A stream of random tokens: mostly plausible ones (offsets within what was
// produced, every length form, long runs of 1111 groups), some hostile ones
// (offset 0, offsets past the output, lengths past the block), sometimes an
// end marker with bytes after it.
Bytes RandomTokens(std::mt19937& rng) {
  BitSink bits;
  const auto next = [&rng] { return static_cast<unsigned>(rng()); };
  std::uniform_int_distribution<int> percent(0, 99);
  const int tokens = 1 + static_cast<int>(rng() % 900);
  unsigned produced = 0;
  for (int t = 0; t < tokens; ++t) {
    const int kind = percent(rng);
    if (kind < 45) {
      bits.Put(next() & 0xFF, 9);
      ++produced;
      continue;
    }
    if (kind == 45) {
      bits.Put(0x180, 9);  // end marker; what follows must not matter
      continue;
    }
    unsigned offset = produced == 0 ? 1 : 1 + next() % std::min(produced, 2047u);
    if (percent(rng) < 4) offset = next() % 2048;  // may be 0 or past the output
    if (offset < 128 && percent(rng) < 80) {
      bits.Put(0b11, 2);
      bits.Put(offset, 7);
    } else {
      bits.Put(0b10, 2);
      bits.Put(offset, 11);
    }
    const int form = percent(rng);
    unsigned length = 0;
    if (form < 40) {
      length = 2 + next() % 3;
      bits.Put(length - 2, 2);
    } else if (form < 65) {
      length = 5 + next() % 3;
      bits.Put(0b1100 | (length - 5), 4);
    } else {
      length = 8 + (form < 95 ? next() % 60 : next() % 9000);
      bits.Put(0b1111, 4);
      unsigned rest = length - 8;
      for (; rest >= 15; rest -= 15) bits.Put(0b1111, 4);
      bits.Put(rest, 4);
    }
    produced += length;
  }
  if (percent(rng) < 70) bits.Put(0x180, 9);
  return bits.bytes();
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

// Blocks the encoder sees on a volume: text, repetitive binary, runs, zeros.
std::vector<Bytes> SampleBlocks() {
  std::mt19937 rng(7);
  std::vector<Bytes> blocks;
  std::string text;
  static const char* const kWords[] = {"volume ", "catalogue ", "the ", "of ", "Folder:", "data ", "\r"};
  while (text.size() < kBlock) text += kWords[rng() % std::size(kWords)];
  blocks.emplace_back(text.begin(), text.begin() + kBlock);
  Bytes binary(kBlock);
  for (std::size_t i = 0; i < kBlock; ++i) binary[i] = static_cast<std::uint8_t>((i % 16 < 4) ? rng() : i % 7);
  blocks.push_back(binary);
  Bytes periods(kBlock);
  for (std::size_t i = 0; i < kBlock; ++i) periods[i] = static_cast<std::uint8_t>("abcdefghijklmnop"[i % (2 + (i / 512) % 14)]);
  blocks.push_back(periods);
  blocks.emplace_back(kBlock, 0);
  blocks.push_back(RandomBytes(rng, kBlock));
  blocks.push_back(RandomBytes(rng, 37));
  return blocks;
}

TEST(LzsDifferential, RandomBytes) {
  std::mt19937 rng(1);
  for (int i = 0; i < 3000; ++i) {
    const Bytes stream = RandomBytes(rng, 1 + rng() % 600);
    ASSERT_TRUE(SameAsReference(stream)) << "random stream " << i;
  }
}

TEST(LzsDifferential, RandomTokenSequences) {
  std::mt19937 rng(2);
  for (int i = 0; i < 3000; ++i) {
    const Bytes stream = RandomTokens(rng);
    ASSERT_TRUE(SameAsReference(stream)) << "token stream " << i;
  }
}

TEST(LzsDifferential, EncoderOutputAndItsMutations) {
  std::mt19937 rng(3);
  for (const Bytes& block : SampleBlocks()) {
    const Bytes stream = mkdisc::LzsCompress(block);
    ASSERT_TRUE(SameAsReference(stream));
    for (int m = 0; m < 400; ++m) {
      Bytes mutated = stream;
      const std::size_t at = rng() % mutated.size();
      switch (m % 4) {
        case 0: mutated[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8)); break;
        case 1: mutated[at] = static_cast<std::uint8_t>(rng()); break;
        case 2: mutated.erase(mutated.begin() + static_cast<std::ptrdiff_t>(at)); break;
        default: mutated.insert(mutated.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng())); break;
      }
      if (mutated.empty()) continue;
      ASSERT_TRUE(SameAsReference(mutated)) << "mutation " << m << " at byte " << at;
    }
  }
}

TEST(LzsDifferential, TruncationAtEveryLength) {
  std::mt19937 rng(4);
  std::vector<Bytes> streams;
  for (const Bytes& block : SampleBlocks()) streams.push_back(mkdisc::LzsCompress(block));
  for (int i = 0; i < 4; ++i) streams.push_back(RandomTokens(rng));
  for (const Bytes& stream : streams) {
    for (std::size_t length = 1; length <= stream.size(); ++length) {
      ASSERT_TRUE(SameAsReference(stream, length));
    }
  }
}

// Streams that end exactly where the reference stops mid-token, for each
// token form and each way a length code can be cut or overrun the block.
TEST(LzsDifferential, EdgesOfTheBlockAndTheStream) {
  std::vector<Bytes> streams;
  for (const unsigned fill : {8190u, 8191u, 8192u, 8176u, 8100u}) {
    for (const unsigned length : {2u, 7u, 8u, 22u, 23u, 200u, 9000u}) {
      BitSink bits;
      bits.Put(0x41, 9);
      bits.Put(0b11, 2);
      bits.Put(1, 7);  // offset 1
      unsigned rest = fill - 1 - 8;
      bits.Put(0b1111, 4);
      for (; rest >= 15; rest -= 15) bits.Put(0b1111, 4);
      bits.Put(rest, 4);
      bits.Put(0b10, 2);
      bits.Put(9, 11);  // offset 9
      if (length <= 4) {
        bits.Put(length - 2, 2);
      } else if (length <= 7) {
        bits.Put(0b1100 | (length - 5), 4);
      } else {
        bits.Put(0b1111, 4);
        for (rest = length - 8; rest >= 15; rest -= 15) bits.Put(0b1111, 4);
        bits.Put(rest, 4);
      }
      bits.Put(0x42, 9);
      streams.push_back(bits.bytes());
    }
  }
  for (const Bytes& stream : streams) {
    for (std::size_t length = 1; length <= stream.size(); ++length) {
      ASSERT_TRUE(SameAsReference(stream, length));
    }
  }
}

}  // namespace
}  // namespace kestrow
