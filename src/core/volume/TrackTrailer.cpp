#include "text/ByteReader.h"
#include "volume/PackedFormat.h"
#include "volume/VolumeImage.h"

namespace kestrow {

bool HasTrailerSignature(std::span<const std::uint8_t> userData) {
  return ByteReader(userData).matches(0, format::kTrailerSignature);
}

bool TrackTrailer::HasSignature() const { return HasTrailerSignature(signature); }

std::uint64_t TrackTrailer::AreaBytes() const {
  if (volumeEnd <= volumeStart) return 0;
  return static_cast<std::uint64_t>(volumeEnd - volumeStart) * format::kUnitSize;
}

std::string DescribeVolumeAreaFailure(const VolumeAreaRead& read) {
  const auto lba = [](std::int64_t sector) { return "LBA " + std::to_string(sector); };
  if (read.sectorCount <= 0) return "the disc's capacity could not be read";
  const std::int64_t last = std::int64_t{read.sectorCount} - 1;
  const std::string searched = "the " + std::to_string(kTrailerSearchSectors) + " sectors before it";
  if (read.trailerLba < 0) {
    if (read.lastSectorUnreadable) {
      return "the last sector (" + lba(last) + ") could not be read, and no \"Trkb\" trailer is in " + searched;
    }
    return "no \"Trkb\" trailer in the last sector (" + lba(last) + ") or " + searched;
  }
  const std::int64_t first = read.trailer.volumeStart / format::kUnitsPerSector;
  const std::int64_t end = read.trailer.volumeEnd > 0 ? (read.trailer.volumeEnd - 1) / format::kUnitsPerSector : 0;
  if (read.failedLba >= 0) {
    return lba(read.failedLba) + " of the volume area (LBAs " + std::to_string(first) + " to " +
           std::to_string(end) + ") could not be read";
  }
  if (std::uint64_t{read.trailer.volumeEnd} > std::uint64_t(read.sectorCount) * format::kUnitsPerSector) {
    return "the trailer places the volume area (LBAs " + std::to_string(first) + " to " + std::to_string(end) +
           ") past the end of the disc";
  }
  return {};
}

std::optional<TrackTrailer> ParseTrackTrailer(std::span<const std::uint8_t> userData) {
  const ByteReader reader(userData);
  const auto start = reader.be32(format::kTrailerVolumeStartOffset);
  const auto end = reader.be24(format::kTrailerVolumeEndOffset);  // byte 32 plays no part
  if (!start || !end) return std::nullopt;
  TrackTrailer trailer;
  for (std::size_t i = 0; i < trailer.signature.size(); ++i) trailer.signature[i] = userData[i];
  trailer.volumeStart = *start;
  trailer.volumeEnd = *end;
  return trailer;
}

}  // namespace kestrow
