// LZS decoding of 8 KiB blocks over the mixed corpus, beside memcpy of the
// same bytes and beside the bit-by-bit reference decoder.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "BenchCorpus.h"
#include "LzsReference.h"
#include "recovery/Lzs.h"
#include "volume/PackedFormat.h"

namespace kestrow::bench {
namespace {

constexpr std::size_t kBlock = format::kBlockSize;
using Decoder = int (*)(const std::uint8_t*, int, std::uint8_t*);

std::vector<const CorpusBlock*> Select(const char* kind) {
  std::vector<const CorpusBlock*> blocks;
  for (const CorpusBlock& block : Corpus()) {
    if (std::strcmp(kind, "mixed") == 0 || std::strcmp(kind, KindName(block.kind)) == 0) blocks.push_back(&block);
  }
  return blocks;
}

// Every block decodes to its plain bytes, or the figures mean nothing.
bool DecodesCorrectly(Decoder decode, const std::vector<const CorpusBlock*>& blocks) {
  std::vector<std::uint8_t> out(kBlock);
  for (const CorpusBlock* block : blocks) {
    std::fill(out.begin(), out.end(), 0);
    const int n = decode(block->stream.data(), static_cast<int>(block->stream.size()), out.data());
    if (n != static_cast<int>(kBlock) || out != block->plain) return false;
  }
  return true;
}

void DecodeBlocks(benchmark::State& state, Decoder decode, const char* kind) {
  const auto blocks = Select(kind);
  if (!DecodesCorrectly(decode, blocks)) {
    state.SkipWithError("a block did not decode to its own bytes");
    return;
  }
  std::vector<std::uint8_t> out(kBlock);
  std::uint64_t compressed = 0;
  for (const CorpusBlock* block : blocks) compressed += block->stream.size();
  for (auto _ : state) {
    for (const CorpusBlock* block : blocks) {
      benchmark::DoNotOptimize(decode(block->stream.data(), static_cast<int>(block->stream.size()), out.data()));
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blocks.size() * kBlock));
  state.counters["blocks"] = static_cast<double>(blocks.size());
  state.counters["stored/plain"] = static_cast<double>(compressed) / static_cast<double>(blocks.size() * kBlock);
}

void CopyBlocks(benchmark::State& state, const char* kind) {
  const auto blocks = Select(kind);
  std::vector<std::uint8_t> out(kBlock);
  for (auto _ : state) {
    for (const CorpusBlock* block : blocks) {
      std::memcpy(out.data(), block->plain.data(), kBlock);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blocks.size() * kBlock));
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const char* kind : {"mixed", "text", "binary", "zeros", "random"}) {
    benchmark::RegisterBenchmark((std::string("lzs_decode/") + kind).c_str(), DecodeBlocks, &LzsDecompress, kind);
  }
  benchmark::RegisterBenchmark("lzs_reference/mixed", DecodeBlocks, &reference::LzsDecompress, "mixed");
  benchmark::RegisterBenchmark("memcpy/mixed", CopyBlocks, "mixed");
  return true;
}();

}  // namespace
}  // namespace kestrow::bench
