// The volume area of a Kestrow PRO disc, read into memory, and the trailer in
// the disc's last sector that says where that area lies.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Spans.h"
#include "drive/ReadPolicy.h"
#include "drive/SectorReader.h"

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

// Where the trailer was looked for and found.
struct TrailerSearch {
  std::int32_t lba = -1;  // the sector that holds it; -1 when none does
  TrackTrailer trailer;
  bool lastSectorUnreadable = false;
  std::vector<std::int32_t> unreadable;  // the sectors searched that could not be read
};

// The sectors before the last that are searched for the trailer, last first.
inline constexpr std::int32_t kTrailerSearchSectors = 16;

// What reading the volume area found besides the image.
struct VolumeAreaRead {
  std::int32_t sectorCount = 0;  // as READ CAPACITY reported it
  std::int32_t trailerLba = -1;  // where the trailer was found; -1 when it was not
  TrackTrailer trailer;
  bool lastSectorUnreadable = false;
  std::int32_t failedLba = -1;           // the sector whose read ended the load
  std::vector<std::int32_t> unreadable;  // keep-going: the area's sectors read as zeros, ascending
  std::vector<ByteSpan> unreadableBytes; // the image bytes they stand for
  std::vector<std::int32_t> searchUnreadable;  // sectors the trailer search could not read

  // The sector count for everything that follows the trailer (the volume
  // section and the groups before it end with the trailer's sector).
  std::int32_t DiscEnd() const { return trailerLba + 1; }
};

// Why a load of the volume area failed, in words for a person diagnosing a
// disc ("LBA 1234 of the volume area (LBAs 1200 to 1260) could not be
// read"); empty when `read` says nothing of it.
std::string DescribeVolumeAreaFailure(const VolumeAreaRead& read);

// Reads the trailer from the user data of a sector (at least 36 bytes).
std::optional<TrackTrailer> ParseTrackTrailer(std::span<const std::uint8_t> userData);

// True when `userData` begins with the "Trkb" signature.
bool HasTrailerSignature(std::span<const std::uint8_t> userData);

// Where the trailer is: in the last of `sectorCount` sectors, or, when that
// cannot be read or does not begin with "Trkb", in the nearest of the
// sectors before it (a disc written track-at-once may end with run-out
// sectors). Each sector is read up to `retries` more times. The source must
// be open.
TrailerSearch FindTrackTrailer(SectorReader& reader, std::int32_t sectorCount, std::int32_t retries);

// Reads the capacity, finds the trailer and reads the volume area it names
// into `image`, each of its sectors once, in runs; `read` says where the
// trailer was found, which sector failed the load, and (policy.keepGoing)
// which sectors of the area could not be read and were taken as zeros.
// False when the capacity, the trailer or (without keepGoing) a sector of
// the area could not be read, or the trailer points past the disc's end.
// The source must be open.
bool ReadVolumeArea(SectorReader& reader, VolumeImage& image, VolumeAreaRead& read, const ReadPolicy& policy);

}  // namespace kestrow
