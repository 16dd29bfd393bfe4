#include "drive/ImageKind.h"

#include <string_view>

#include "drive/CueSheet.h"
#include "drive/Mode1Sector.h"
#include "drive/RawSector.h"

namespace kestrow {
namespace {

bool IsWholeCueSheet(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (fileSize == 0 || fileSize > kMaxCueSheetSize || head.size() < fileSize) return false;
  const auto text = head.first(static_cast<std::size_t>(fileSize));
  return LooksLikeCueSheet(
      std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
}

bool HasSyncNearStart(std::span<const std::uint8_t> head) {
  for (std::size_t sector = 0; sector < kSyncProbeSectors; ++sector) {
    const std::size_t offset = sector * format::kRawSectorSize;
    if (offset >= head.size()) break;
    if (HasSyncPattern(head.subspan(offset))) return true;
  }
  return false;
}

}  // namespace

ImageKind RecogniseImage(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
  if (IsWholeCueSheet(head, fileSize)) return ImageKind::kCueSheet;
  const bool rawSize = fileSize % format::kRawSectorSize == 0 || fileSize % format::kUserDataSize != 0;
  if (HasSyncNearStart(head) && rawSize) return ImageKind::kRaw2352;
  return ImageKind::kUserData2048;
}

std::uint32_t SectorSizeOf(ImageKind kind) {
  switch (kind) {
    case ImageKind::kRaw2352: return static_cast<std::uint32_t>(format::kRawSectorSize);
    case ImageKind::kUserData2048: return static_cast<std::uint32_t>(format::kUserDataSize);
    case ImageKind::kCueSheet: return 0;
  }
  return 0;
}

const char* ImageKindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::kRaw2352: return "raw 2352-byte sectors";
    case ImageKind::kUserData2048: return "2048-byte user data";
    case ImageKind::kCueSheet: return "cue sheet";
  }
  return "unknown";
}

}  // namespace kestrow
