// LZS decoding of one 8 KiB block of packed volume data.
#pragma once

#include <cstdint>

namespace kestrow {

// Decodes the LZS stream `src` (`srcLength` bytes) into `dst`, a block buffer
// of format::kBlockSize bytes, and returns the number of bytes written.
//
// The stream is one block's own: string references reach back only into what
// this call has produced. Decoding stops, keeping what was produced so far, at
// the end marker, at the end of the stored data (a truncated token), at an
// offset of 0 or one that reaches before the start of `dst`, and when the
// block buffer is full (a reference that would overrun it is cut there).
// The rest of the block buffer is set to zeros. Nothing outside
// src[0, srcLength) is read and nothing outside the block buffer is written.
int LzsDecompress(const std::uint8_t* src, int srcLength, std::uint8_t* dst);

}  // namespace kestrow
