// Disc image files: recognising what a file holds, then opening it as a
// source and reading its sectors. The input is the file's content; a cue
// sheet may name "data.bin", a small raw image beside it.
//
// Properties:
// - a file taken for a cue sheet is small and reads as one; one taken for raw
//   sectors has a sync pattern at the start of one of its first 16 sectors
//   and a size that a raw image can have;
// - an image (not a cue sheet) always opens, as a disc of its whole sectors
//   of the recognised size, and every sector reads back the file's bytes
//   (a 2048-byte sector as the user data of the raw sector made around it);
// - a sector past the end does not read.
#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "drive/CueSheet.h"
#include "drive/DiscImageTransport.h"
#include "drive/ImageKind.h"
#include "drive/Mode1Sector.h"
#include "drive/ScsiCommands.h"

namespace {

using namespace kestrow;
using fuzz::Require;
namespace fs = std::filesystem;

constexpr std::uint32_t kDataSectors = 4;
constexpr std::uint32_t kMaxSectorsRead = 8;

void WriteFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  Require(out.good(), "the scratch file can be written");
}

std::vector<std::uint8_t> RawDataFile() {
  std::vector<std::uint8_t> raw(kDataSectors * format::kRawSectorSize);
  std::array<std::uint8_t, format::kUserDataSize> user{};
  for (std::uint32_t lba = 0; lba < kDataSectors; ++lba) {
    user.fill(static_cast<std::uint8_t>(lba + 1));
    SynthesizeMode1Sector(lba, user, std::span(raw).subspan(lba * format::kRawSectorSize, format::kRawSectorSize));
  }
  return raw;
}

void CheckKind(ImageKind kind, std::span<const std::uint8_t> head, std::uint64_t size) {
  if (kind == ImageKind::kCueSheet) {
    Require(size <= kMaxCueSheetSize && head.size() == size, "a cue sheet is small and wholly seen");
    Require(LooksLikeCueSheet(std::string_view(reinterpret_cast<const char*>(head.data()), head.size())),
            "a cue sheet reads as one");
  }
  if (kind == ImageKind::kRaw2352) {
    bool sync = false;
    for (std::size_t s = 0; s < kSyncProbeSectors && s * format::kRawSectorSize < head.size(); ++s) {
      sync = sync || HasSyncPattern(head.subspan(s * format::kRawSectorSize));
    }
    Require(sync, "raw sectors have a sync pattern near the start");
    Require(size % format::kRawSectorSize == 0 || size % format::kUserDataSize != 0,
            "raw sectors have a size a raw image can have");
  }
  Require(ImageKindName(kind) != nullptr, "every kind has a name");
}

// The cue sheet names data.bin, the only file a run may follow a sheet to.
bool NamesScratchData(std::string_view text) {
  CueSheet sheet;
  std::string reason;
  return ParseCueSheet(text, sheet, reason) && sheet.dataFile == "data.bin";
}

void CheckSectors(DiscImageTransport& source, std::span<const std::uint8_t> file) {
  const std::int32_t count = scsi::ReadCapacity(source);
  const std::uint32_t sectorSize = source.SectorSize();
  const std::uint64_t whole = sectorSize == 0 ? 0 : file.size() / sectorSize;
  Require(count == (whole == 0 ? -1 : static_cast<std::int32_t>(whole)), "the disc has the file's whole sectors");
  std::array<std::uint8_t, format::kRawSectorSize> raw{};
  const std::uint32_t readable = count > 0 ? static_cast<std::uint32_t>(count) : 0;
  for (std::uint32_t lba = 0; lba < std::min(readable, kMaxSectorsRead); ++lba) {
    Require(scsi::ReadRawSector(source, static_cast<std::int32_t>(lba), raw) ==
                static_cast<std::int32_t>(format::kRawSectorSize),
            "a sector of the image reads");
    const auto stored = file.subspan(std::size_t{lba} * sectorSize, sectorSize);
    const auto got = sectorSize == format::kRawSectorSize
                         ? std::span<const std::uint8_t>(raw)
                         : std::span<const std::uint8_t>(raw).subspan(format::kUserDataOffset, format::kUserDataSize);
    Require(std::equal(stored.begin(), stored.end(), got.begin()), "a sector holds the file's bytes");
  }
  Require(scsi::ReadRawSector(source, static_cast<std::int32_t>(readable), raw) == -1,
          "a sector past the end does not read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  const auto head = file.first(std::min(size, kImageProbeSize));
  const ImageKind kind = RecogniseImage(head, size);
  CheckKind(kind, head, size);

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (kind == ImageKind::kCueSheet && !NamesScratchData(text)) return 0;
  static const std::vector<std::uint8_t> dataFile = RawDataFile();
  const fuzz::ScratchFolder scratch;
  const fs::path image = scratch.Output() / "image";
  WriteFile(image, file);
  WriteFile(scratch.Output() / "data.bin", dataFile);

  DiscImageTransport source(image.string());
  const bool opened = source.Open();
  if (kind != ImageKind::kCueSheet) {
    Require(opened, "an image file opens");
    Require(source.Kind() == kind && source.SectorSize() == SectorSizeOf(kind), "the source is of the recognised kind");
    CheckSectors(source, file);
  } else if (opened) {
    Require(source.DataFilePath() == (scratch.Output() / "data.bin").string(), "the sheet's data file is followed");
    CheckSectors(source, dataFile);
  }
  source.Close();
  Require(!source.IsOpen(), "a closed source is closed");
  return 0;
}
