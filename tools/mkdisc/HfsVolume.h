// The facts mkdisc needs from the HFS volume it packs.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kestrow::mkdisc {

struct HfsVolumeInfo {
  std::uint32_t allocBlockSize = 0;  // drAlBlkSiz
  std::uint64_t catalogEnd = 0;      // volume byte after the catalogue file's last extent
};

// Checks that `volume` is an HFS volume laid out as the disc format expects
// ("BD" master directory block at byte 1,024, allocation block 0 at byte
// 9,728, allocation blocks a multiple of 512 bytes, the catalogue inside the
// volume) and reads where its catalogue ends. On failure `error` says why.
bool CheckHfsVolume(std::span<const std::uint8_t> volume, HfsVolumeInfo& info, std::string& error);

}  // namespace kestrow::mkdisc
