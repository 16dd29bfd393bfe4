// Cutting a volume into 8 KiB blocks and packing them into sector groups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrow::mkdisc {

// One sector group's packed data: the block table followed by the blocks'
// stored data, as far as it is used. Sector 1 of the group starts with
// buffer[0]; whatever the buffer leaves of the group's 247 data sectors is zero.
struct PackedGroup {
  std::uint32_t firstBlock = 0;  // index of the group's first block in the volume
  std::uint32_t blockCount = 0;
  std::uint32_t compressedBlocks = 0;
  std::vector<std::uint8_t> buffer;
};

struct PackingOptions {
  std::size_t maxBlocksPerGroup = 0;  // 0: as many as fit in the group
  bool uncompressed = false;          // store every block plain
  std::uint64_t firstBlock = 0;       // pack from this block on; the ones before are left out
};

// A block's stored form: its LZS stream when that is shorter than a block,
// otherwise (or when `uncompressed`) its 8,192 bytes as they are. A block
// shorter than 8,192 bytes (the volume's last) is taken as zero-padded.
std::vector<std::uint8_t> StoreBlock(std::span<const std::uint8_t> block, bool uncompressed);

// Cuts `volume` into blocks from byte 0 (from block options.firstBlock on; the last one zero-padded) and packs
// them in order into groups, each holding as many consecutive blocks as its
// 505,856 bytes of table and data (or the block limit) allow.
std::vector<PackedGroup> PackVolume(std::span<const std::uint8_t> volume, const PackingOptions& options);

// The number of 8 KiB blocks `PackVolume` cuts a volume of `volumeBytes` into.
std::uint64_t BlockCount(std::uint64_t volumeBytes);

}  // namespace kestrow::mkdisc
