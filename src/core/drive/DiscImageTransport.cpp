#include "drive/DiscImageTransport.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/CueSheet.h"
#include "drive/Mode1Sector.h"
#include "drive/RawSector.h"
#include "drive/SectorCheck.h"
#include "platform/FileSystem.h"

namespace kestrow {
namespace {

// A CD's mapfile is a few kilobytes; anything near this is not one.
constexpr std::uint64_t kMaxMapfileSize = 64ull * 1024 * 1024;

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// "mapfile line 7: ..." for a reason tied to a line, "mapfile: ..." otherwise.
std::string Compose(const std::string& what, const std::string& reason) {
  return what + (reason.rfind("line ", 0) == 0 ? " " : ": ") + reason;
}

std::uint32_t WholeSectors(std::uint64_t bytes, std::uint32_t sectorSize) {
  const std::uint64_t sectors = sectorSize == 0 ? 0 : bytes / sectorSize;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(sectors, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

DiscImageTransport::DiscImageTransport(std::string imagePath, std::string mapfilePath)
    : m_imagePath(std::move(imagePath)), m_mapfilePath(std::move(mapfilePath)) {}

bool DiscImageTransport::Open() {
  Close();
  m_openFailure.clear();
  m_note.clear();
  if (OpenImage() && (m_mapfilePath.empty() || LoadMapfile())) {
    m_carriesEdc = m_sectorSize != format::kRawSectorSize || SampleForEdc();
    return true;
  }
  Close();
  return false;
}

std::vector<std::string> DiscImageTransport::SourceFiles() const {
  std::vector<std::string> files{m_imagePath};
  if (!m_dataPath.empty() && m_dataPath != m_imagePath) files.push_back(m_dataPath);
  if (!m_mapfilePath.empty()) files.push_back(m_mapfilePath);
  return files;
}

void DiscImageTransport::Close() {
  m_data.Close();
  m_dataPath.clear();
  m_kind = ImageKind::kUserData2048;
  m_sectorSize = 0;
  m_sectorCount = 0;
  m_hasMap = false;
  m_carriesEdc = true;
  m_map = DdrescueMap();
}

bool DiscImageTransport::SampleForEdc() {
  // The first sectors and others spread evenly: an image written without EDC
  // lacks it in every data sector, so a handful decides.
  constexpr std::uint32_t kSamples = 64;
  std::array<std::uint8_t, format::kRawSectorSize> raw{};
  bool sawDataSector = false;
  for (std::uint32_t i = 0; i < kSamples && i < m_sectorCount; ++i) {
    const std::uint32_t lba =
        i < kSamples / 4 ? i : static_cast<std::uint32_t>(std::uint64_t{m_sectorCount} * i / kSamples);
    if (!ReadSector(lba, raw)) continue;
    switch (EdcPresenceOf(raw)) {
      case EdcPresence::kPresent: return true;
      case EdcPresence::kAbsent: sawDataSector = true; break;
      case EdcPresence::kNotADataSector: break;
    }
  }
  // No data sector among them: nothing says the image lacks EDC.
  return !sawDataSector;
}

bool DiscImageTransport::Fail(std::string detail) {
  m_openFailure = std::move(detail);
  return false;
}

bool DiscImageTransport::OpenImage() {
  ReadOnlyFile image;
  std::string error;
  if (!image.Open(m_imagePath, error)) return Fail(error);
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(image.Size(), kImageProbeSize)));
  if (!image.ReadAt(0, head)) return Fail("the image could not be read");
  m_kind = RecogniseImage(head, image.Size());
  if (m_kind == ImageKind::kCueSheet) return OpenCueSheetData(std::string(AsText(head)));
  m_data = std::move(image);
  m_dataPath = m_imagePath;
  m_sectorSize = SectorSizeOf(m_kind);
  m_sectorCount = WholeSectors(m_data.Size(), m_sectorSize);
  NoteWhatTheImageIs(head);
  return true;
}

void DiscImageTransport::NoteWhatTheImageIs(std::span<const std::uint8_t> head) {
  std::vector<std::string> notes;
  if (m_sectorCount == 0) {
    notes.push_back("read as " + std::string(ImageKindName(m_kind)) + ", the image holds no whole sector (" +
                    std::to_string(m_data.Size()) + " bytes)");
  }
  std::string extension = std::filesystem::path(m_imagePath).extension().string();
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string why = "larger than 64 KiB";
  if (extension == ".cue" && (m_data.Size() > kMaxCueSheetSize || !LooksLikeCueSheet(AsText(head), &why))) {
    notes.push_back("not read as a cue sheet: " + why);
  }
  for (const std::string& note : notes) m_note += (m_note.empty() ? "" : "; ") + note;
}

bool DiscImageTransport::OpenCueSheetData(const std::string& sheetText) {
  CueSheet sheet;
  std::string reason;
  if (!ParseCueSheet(sheetText, sheet, reason)) return Fail(Compose("cue sheet", reason));
  m_dataPath = Utf8FromPath(PathFromUtf8(m_imagePath).parent_path() / PathFromUtf8(sheet.dataFile));
  std::string error;
  if (!m_data.Open(m_dataPath, error)) return Fail("cue sheet data file " + m_dataPath + ": " + error);
  m_sectorSize = sheet.sectorSize;
  m_sectorCount = WholeSectors(m_data.Size(), m_sectorSize);
  return true;
}

bool DiscImageTransport::LoadMapfile() {
  ReadOnlyFile file;
  std::string error;
  if (!file.Open(m_mapfilePath, error)) return Fail(Compose("mapfile", error));
  if (file.Size() > kMaxMapfileSize) return Fail("mapfile: larger than 64 MiB");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
  if (!file.ReadAt(0, bytes)) return Fail("mapfile: could not be read");
  std::string reason;
  if (!m_map.Parse(AsText(bytes), reason)) return Fail(Compose("mapfile", reason));
  m_hasMap = true;
  return true;
}

bool DiscImageTransport::ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) {
  if (!m_data.IsOpen() || lba >= m_sectorCount || raw.size() < format::kRawSectorSize) return false;
  const std::uint64_t offset = std::uint64_t{lba} * m_sectorSize;
  if (m_hasMap && !m_map.IsFinished(offset, m_sectorSize)) return false;
  if (m_sectorSize == format::kRawSectorSize) {
    return m_data.ReadAt(offset, raw.first(format::kRawSectorSize));
  }
  std::array<std::uint8_t, format::kUserDataSize> user{};
  if (!m_data.ReadAt(offset, user)) return false;
  SynthesizeMode1Sector(lba, user, raw);
  return true;
}

std::optional<bool> DiscImageTransport::KnownUnreadable(std::uint32_t lba) const {
  if (!IsOpen() || !m_hasMap) return std::nullopt;
  return !m_map.IsFinished(std::uint64_t{lba} * m_sectorSize, m_sectorSize);
}

bool DiscImageTransport::ReadSectors(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> raw) {
  const std::uint64_t bytes = std::uint64_t{count} * format::kRawSectorSize;
  const std::uint64_t offset = std::uint64_t{lba} * m_sectorSize;
  const bool oneRead = m_data.IsOpen() && m_sectorSize == format::kRawSectorSize && count > 1 &&
                       std::uint64_t{lba} + count <= m_sectorCount && raw.size() >= bytes &&
                       (!m_hasMap || m_map.IsFinished(offset, bytes));
  // A read that fails (the image cut short meanwhile) is left to the
  // sector-by-sector path, which fails at the same sector as before.
  if (oneRead && m_data.ReadAt(offset, raw.first(static_cast<std::size_t>(bytes)))) return true;
  return EmulatedDrive::ReadSectors(lba, count, raw);
}

}  // namespace kestrow
