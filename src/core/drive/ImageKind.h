// What a disc image file holds, told by its content rather than its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrow {

enum class ImageKind {
  kRaw2352,       // whole 2352-byte sectors as READ CD returns them (.bin, a physical dump)
  kUserData2048,  // the 2048 user-data bytes of each sector (.iso)
  kCueSheet,      // a cue sheet naming the data file
};

// How many of the file's first bytes RecogniseImage wants to see: enough
// for a whole cue sheet and for the sync patterns of the first sectors.
inline constexpr std::size_t kImageProbeSize = 64 * 1024;
// Sectors whose start is searched for a sync pattern, for dumps that began
// with an unreadable or audio sector.
inline constexpr std::size_t kSyncProbeSectors = 16;

// Recognises an image from its first bytes (`head`, up to kImageProbeSize,
// fewer only when the file is shorter) and its size in bytes:
// - a cue sheet: a file of at most kMaxCueSheetSize bytes, all in `head`,
//   that reads as a cue sheet;
// - raw sectors: a sync pattern at the start of one of the first
//   kSyncProbeSectors 2352-byte sectors, and a size that is a multiple of
//   2352 or not a multiple of 2048;
// - 2048-byte user data otherwise.
ImageKind RecogniseImage(std::span<const std::uint8_t> head, std::uint64_t fileSize);

// 2352, 2048, or 0 for a cue sheet (its data file has the sector size).
std::uint32_t SectorSizeOf(ImageKind kind);

// "raw 2352-byte sectors", "2048-byte user data", "cue sheet".
const char* ImageKindName(ImageKind kind);

}  // namespace kestrow
