// The inputs of the kernel benchmarks: 8 KiB blocks of the kinds a Mac volume
// holds, each with its LZS stream from mkdisc's encoder, and a catalogue of
// many files and folders laid out as the linear scan reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrow::bench {

enum class BlockKind { kText, kBinary, kZeros, kRandom };

struct CorpusBlock {
  BlockKind kind = BlockKind::kText;
  std::vector<std::uint8_t> plain;   // 8,192 bytes
  std::vector<std::uint8_t> stream;  // mkdisc::LzsCompress(plain)
};

const char* KindName(BlockKind kind);

// `perKind` blocks of each kind, the kinds interleaved (text, binary, zeros,
// random, text, ...). Text comes from /usr/share/doc and the licence texts,
// binaries from the machine's shared libraries; where those are missing,
// generated stand-ins are used. Built once and kept.
const std::vector<CorpusBlock>& Corpus(std::size_t perKind = 256);

// Where the text and binary blocks came from, for the report.
const std::string& CorpusSourceNote();

struct CatalogShape {
  std::size_t topFolders = 200;     // folders in the root
  std::size_t subFolders = 99;      // folders in each top folder
  std::size_t filesPerFolder = 5;   // files in every folder, top and sub
};

// A volume image (as LoadVolumeImage yields it) whose catalogue holds the
// folders and files of `shape`, with a thread record per folder, in 512-byte
// leaf nodes after a header node at allocation block 0.
std::vector<std::uint8_t> MakeCatalogImage(const CatalogShape& shape, std::size_t& folders, std::size_t& files);

}  // namespace kestrow::bench
