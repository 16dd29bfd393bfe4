// A disc image file that answers READ CAPACITY and READ CD like a drive.
//
// The image is recognised by content (ImageKind): raw 2352-byte sectors are
// returned as stored; 2048-byte user-data sectors get a synthesised Mode 1
// sync, header, EDC and ECC; a cue sheet is followed to its one data file,
// named relative to the sheet's folder. The sector count is the data file's
// whole sectors.
//
// An optional GNU ddrescue mapfile, whose positions are byte offsets in the
// data file, marks what was rescued: a sector reads only when every byte of
// it lies in a finished ('+') block, so a rescued image fails where the
// damaged disc did.
#pragma once

#include <cstdint>
#include <string>

#include "drive/DdrescueMap.h"
#include "drive/EmulatedDrive.h"
#include "drive/ImageKind.h"
#include "drive/ReadOnlyFile.h"

namespace kestrow {

class DiscImageTransport : public EmulatedDrive {
 public:
  explicit DiscImageTransport(std::string imagePath, std::string mapfilePath = {});
  DiscImageTransport(const DiscImageTransport&) = delete;
  DiscImageTransport& operator=(const DiscImageTransport&) = delete;

  // Opens the image (closing it first when open), recognises it, follows a
  // cue sheet and loads the mapfile. On failure everything is closed and
  // OpenFailureDetail says why.
  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return m_data.IsOpen(); }
  std::string Path() const override { return m_imagePath; }
  std::string OpenFailureDetail() const override { return m_openFailure; }
  std::vector<std::string> SourceFiles() const override;
  // What the last open found that explains a failure: an image without a
  // whole sector, a file named .cue that is not read as a cue sheet and why.
  // Kept after Close.
  std::string FailureNote() const override { return m_note; }
  // A raw image carries EDC unless the data sectors sampled when it was
  // opened all lack one; 2048-byte sectors get theirs synthesised.
  bool SectorsCarryEdc() const override { return m_carriesEdc; }
  // With a mapfile: true for a sector the map does not mark finished (its
  // read fails), false for one it does; nothing without a mapfile.
  std::optional<bool> KnownUnreadable(std::uint32_t lba) const override;

  // For diagnosis, valid while open.
  // What the image path holds: raw sectors, user data, or a cue sheet.
  ImageKind Kind() const { return m_kind; }
  // The sector size of the file the sectors come from: 2352 or 2048.
  std::uint32_t SectorSize() const { return m_sectorSize; }
  // That file: the image itself, or the data file a cue sheet names.
  const std::string& DataFilePath() const { return m_dataPath; }
  const std::string& MapfilePath() const { return m_mapfilePath; }
  bool HasMapfile() const { return m_hasMap; }
  const DdrescueMap& Mapfile() const { return m_map; }

 protected:
  std::uint32_t SectorCount() const override { return m_sectorCount; }
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override;
  // A raw image's sectors in one read where the map (if any) marks them all finished.
  bool ReadSectors(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> raw) override;

 private:
  bool OpenImage();
  bool OpenCueSheetData(const std::string& sheetText);
  bool LoadMapfile();
  bool Fail(std::string detail);
  void NoteWhatTheImageIs(std::span<const std::uint8_t> head);
  // Looks at sectors spread over a raw image for data sectors with an EDC.
  bool SampleForEdc();

  std::string m_imagePath;
  std::string m_mapfilePath;
  std::string m_openFailure;
  std::string m_note;
  std::string m_dataPath;
  ReadOnlyFile m_data;
  ImageKind m_kind = ImageKind::kUserData2048;
  std::uint32_t m_sectorSize = 0;
  std::uint32_t m_sectorCount = 0;
  bool m_hasMap = false;
  bool m_carriesEdc = true;
  DdrescueMap m_map;
};

}  // namespace kestrow
