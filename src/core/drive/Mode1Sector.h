// Mode 1 raw sectors (ECMA-130): sync pattern, header, 2048 bytes of user
// data, EDC and the P/Q Reed-Solomon parity, as a drive's READ CD returns them.
#pragma once

#include <cstdint>
#include <span>

namespace kestrow {

// Builds the 2352-byte raw sector at `lba` around `userData` (2048 bytes).
// The header carries the sector's address as minutes, seconds and frames
// (with the 150-frame lead-in offset) in BCD, and mode 1.
void SynthesizeMode1Sector(std::uint32_t lba, std::span<const std::uint8_t> userData,
                           std::span<std::uint8_t> raw);

// The 32-bit EDC over bytes 0..2063 of a Mode 1 sector.
std::uint32_t ComputeMode1Edc(std::span<const std::uint8_t> bytes);

// True when `raw` begins with the 12-byte sync pattern 00 FF*10 00.
bool HasSyncPattern(std::span<const std::uint8_t> raw);

}  // namespace kestrow
