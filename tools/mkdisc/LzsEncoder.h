// LZS encoding of one block of packed volume data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrow::mkdisc {

// Encodes `block` as one self-contained LZS stream: string references reach
// only back into the block itself (offsets 1 to 2,047), the stream ends with
// the end marker and is padded with zero bits to a whole byte. Matching is
// greedy (the longest match, the nearest of equal length) over hash chains
// of bounded depth. Meant for blocks of up to 8,192 bytes.
std::vector<std::uint8_t> LzsCompress(std::span<const std::uint8_t> block);

}  // namespace kestrow::mkdisc
