// The HFS master directory block: its first 162 bytes, copied verbatim from
// volume byte 1,024 (image offset 0x4000). Fields are big-endian; the names
// are Apple's.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "volume/PackedFormat.h"

namespace kestrow {

struct MasterDirectoryBlock {
  std::array<std::uint8_t, format::kMdbSize> bytes{};

  std::uint32_t drSigWord() const { return Be16(0); }
  std::uint32_t drCrDate() const { return Be32(2); }
  std::uint32_t drLsMod() const { return Be32(6); }
  std::uint32_t drNmFls() const { return Be16(12); }
  std::uint32_t drNmAlBlks() const { return Be16(18); }
  std::uint32_t drAlBlkSiz() const { return Be32(20); }
  std::uint32_t drAlBlSt() const { return Be16(28); }
  std::uint32_t drFreeBks() const { return Be16(34); }
  std::uint32_t drFilCnt() const { return Be32(84); }
  std::uint32_t drDirCnt() const { return Be32(88); }
  std::uint32_t drCTFlSize() const { return Be32(146); }
  // The volume name (drVN): a length byte and up to 27 bytes, raw.
  std::string VolumeName() const;

 private:
  std::uint32_t Be16(std::size_t offset) const {
    return (std::uint32_t{bytes[offset]} << 8) | bytes[offset + 1];
  }
  std::uint32_t Be32(std::size_t offset) const {
    return (Be16(offset) << 16) | Be16(offset + 2);
  }
};

// Copies the master directory block out of a volume image (from its first
// byte); false when the image is too short to hold one or it lacks the "BD"
// signature.
bool ParseMasterDirectoryBlock(std::span<const std::uint8_t> image, MasterDirectoryBlock& mdb);

}  // namespace kestrow
