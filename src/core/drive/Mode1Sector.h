// Mode 1 raw sectors (ECMA-130): sync pattern, header, 2048 bytes of user
// data, EDC and the P/Q Reed-Solomon parity, as a drive's READ CD returns them.
// The same EDC and parity protect Mode 2 Form 1 sectors, whose parity is
// computed as if their header were zero.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kestrow {

// Builds the 2352-byte raw sector at `lba` around `userData` (2048 bytes).
// The header carries the sector's address as minutes, seconds and frames
// (with the 150-frame lead-in offset) in BCD, and mode 1.
void SynthesizeMode1Sector(std::uint32_t lba, std::span<const std::uint8_t> userData,
                           std::span<std::uint8_t> raw);

// The header's three address bytes (minutes, seconds, frames in BCD) of `lba`.
std::array<std::uint8_t, 3> SectorAddress(std::uint32_t lba);

// The 32-bit EDC of `bytes`: a Mode 1 sector's covers its bytes 0..2063, a
// Mode 2 Form 1 sector's its bytes 16..2071.
std::uint32_t ComputeMode1Edc(std::span<const std::uint8_t> bytes);

// True when `raw` begins with the 12-byte sync pattern 00 FF*10 00.
bool HasSyncPattern(std::span<const std::uint8_t> raw);
// How many of the first 12 bytes of `raw` (at least 12 bytes) differ from the sync pattern.
int SyncPatternDistance(std::span<const std::uint8_t> raw);
// Writes the sync pattern over the first 12 bytes of `raw`.
void WriteSyncPattern(std::span<std::uint8_t> raw);

// Writes the P and Q parity of a whole raw sector from its bytes 12..2075;
// `zeroHeader` computes them as if bytes 12..15 were zero (Mode 2 Form 1).
void WriteSectorParity(std::span<std::uint8_t> raw, bool zeroHeader);

// Corrects a whole raw sector's bytes from offset 12 with its P and Q
// parity, in alternating P and Q passes, each mending codewords with one
// wrong byte. True when every codeword checks at the end; the caller must
// still check the EDC, since heavy damage can be "corrected" into another
// consistent sector. `zeroHeader` as above; the header bytes are left as
// they came.
bool CorrectWithParity(std::span<std::uint8_t> raw, bool zeroHeader);

}  // namespace kestrow
