// The AppleDouble companion "._NAME" of a recovered file (version 2, as RFC
// 1740 publishes the format): what a Mac keeps of a file besides its data
// fork. All numbers are big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "volume/FileEntry.h"

namespace kestrow {

inline constexpr std::size_t kCompanionSize = 82;

// The plain companion: Finder info with only the type and creator, and an
// empty resource fork entry at the end of the file.
std::array<std::uint8_t, kCompanionSize> MakeAppleDoubleHeader(const FileEntry& entry);

// The full companion, in this order of entries: Finder info (type, creator,
// Finder flags and location from the catalogue record, then its extended
// Finder info), file dates (creation, modification, backup; the access date
// is unknown), the Mac name (the catalogue's own bytes) and, last, the
// resource fork, so that a reader may grow it in place.
std::vector<std::uint8_t> MakeAppleDouble(const FileEntry& entry, std::span<const std::uint8_t> resourceFork);

}  // namespace kestrow
