// LZS decoding of arbitrary streams, and of streams the mkdisc encoder made.
//
// The first input byte chooses the mode:
// - even: the rest is a stream, decoded into an 8,192-byte block. The stream
//   and the block sit in heap buffers of exactly their size, so that a read
//   or write past either is caught. The decoder produces at most 8,192
//   bytes, leaves the block after them untouched, gives the same bytes for
//   the same stream when decoded again, and the same bytes as the plain
//   bit-by-bit decoder;
// - odd: the rest (up to 8,192 bytes) is a block, encoded by mkdisc and
//   decoded again; the result must be the block itself.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "LzsEncoder.h"
#include "LzsReference.h"
#include "recovery/Lzs.h"
#include "volume/PackedFormat.h"

namespace {

using namespace kestrow;
using fuzz::Require;

constexpr std::size_t kBlock = format::kBlockSize;
constexpr std::uint8_t kUntouched = 0xA5;

std::unique_ptr<std::uint8_t[]> Untouched() {
  auto block = std::make_unique<std::uint8_t[]>(kBlock);
  std::fill_n(block.get(), kBlock, kUntouched);
  return block;
}

void DecodeArbitrary(const std::uint8_t* data, std::size_t size) {
  // A copy of exactly the stream's length: one byte read past it is caught.
  auto stream = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
  std::copy_n(data, size, stream.get());
  auto block = Untouched();
  const int produced = LzsDecompress(stream.get(), static_cast<int>(size), block.get());
  Require(produced >= 0 && produced <= static_cast<int>(kBlock), "the decoder produces at most one block");
  Require(std::all_of(block.get() + produced, block.get() + kBlock, [](std::uint8_t b) { return b == 0; }),
          "the bytes after the produced ones are zeros");
  auto again = Untouched();
  Require(LzsDecompress(stream.get(), static_cast<int>(size), again.get()) == produced &&
              std::equal(block.get(), block.get() + kBlock, again.get()),
          "decoding is deterministic");
  auto plain = Untouched();
  Require(reference::LzsDecompress(stream.get(), static_cast<int>(size), plain.get()) == produced &&
              std::equal(block.get(), block.get() + produced, plain.get()),
          "the decoder gives what the bit-by-bit decoder gives");
}

void RoundTrip(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> original(data, std::min(size, kBlock));
  const std::vector<std::uint8_t> stream = mkdisc::LzsCompress(original);
  auto block = Untouched();
  const int produced = LzsDecompress(stream.data(), static_cast<int>(stream.size()), block.get());
  Require(produced == static_cast<int>(original.size()), "a stream decodes to the block's length");
  Require(std::equal(original.begin(), original.end(), block.get()), "a stream decodes to the block");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if ((data[0] & 1u) == 0) {
    DecodeArbitrary(data + 1, size - 1);
  } else {
    RoundTrip(data + 1, size - 1);
  }
  return 0;
}
