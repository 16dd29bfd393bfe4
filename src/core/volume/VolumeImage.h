// The volume area of a Kestrow PRO disc, read into memory, and the trailer in
// the disc's last sector that says where that area lies.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrow {

// The volume area: image offset k is disc byte volumeStart * 512 + k of the
// user-data address space. Owned by its caller.
using VolumeImage = std::vector<std::uint8_t>;

// The record at the start of the last sector's user data.
struct TrackTrailer {
  std::array<std::uint8_t, 4> signature{};
  std::uint32_t volumeStart = 0;  // first byte of the volume area, 512-byte units from LBA 0
  std::uint32_t volumeEnd = 0;    // first byte after it, 512-byte units (a 24-bit field)

  bool HasSignature() const;
  // Size of the volume area in bytes; 0 when the end is not after the start.
  std::uint64_t AreaBytes() const;
};

// Reads the trailer from the user data of a sector (at least 36 bytes).
std::optional<TrackTrailer> ParseTrackTrailer(std::span<const std::uint8_t> userData);

// True when `userData` begins with the "Trkb" signature.
bool HasTrailerSignature(std::span<const std::uint8_t> userData);

}  // namespace kestrow
