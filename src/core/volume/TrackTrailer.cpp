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
