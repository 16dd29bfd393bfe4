// The two files of a rescue dump on the disk: the image and its mapfile.
#pragma once

#include <cstdint>
#include <string>

#include "rawtools/RescueDump.h"
#include "rawtools/RescueMap.h"

namespace kestrow {

// Why RescueFiles::Open did not open the files.
enum class RescueOpenFailure {
  kNone,
  kNotRawImage,         // the image or the map is not of a whole-disc raw image of this disc
  kTemporaryInTheWay,   // something that is not our temporary map is where it goes
  kCannotOpen,          // a file could not be read or opened, or the map cannot be used
};

class RescueFiles final : public RescueTarget {
 public:
  // Where the map is written before it replaces `mapPath`: "MAP.tmp".
  static std::string TemporaryMapPath(const std::string& mapPath) { return mapPath + ".tmp"; }

  RescueFiles() = default;
  ~RescueFiles() override;
  RescueFiles(const RescueFiles&) = delete;
  RescueFiles& operator=(const RescueFiles&) = delete;

  // Reads the mapfile into `map` when it exists (a new map is empty) and
  // opens the image, creating it when missing and never truncating it. Both
  // must be those of a whole-disc raw image of a disc of `sectorCount`
  // sectors: an existing image whose size is no whole number of 2352-byte
  // sectors (but for a last one cut short past the sectors the map marks
  // finished), or a map that covers another extent than sectorCount x 2352
  // bytes (a 2048-byte image's, GNU ddrescue's) is refused. A map that marks
  // sectors finished needs the image that holds them: an image that is
  // missing or ends before the last finished byte is refused. The image must
  // be a regular file, and "MAP.tmp" a regular file or nothing. On failure
  // `error` says why and nothing was written; the result says what kind of
  // failure it was (kNone: opened).
  RescueOpenFailure Open(const std::string& imagePath, const std::string& mapPath, std::uint32_t sectorCount,
                         RescueMap& map, std::string& error);
  void Close();

  // A sector that cannot be written in full at the image's end is cut off
  // again, so that the image stays whole sectors.
  bool WriteSector(std::uint32_t lba, std::span<const std::uint8_t> raw) override;
  bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) override;
  bool ReachSize(std::uint64_t bytes) override;
  // Writes `text` to "MAP.tmp", flushes it and renames it over the mapfile.
  // "MAP.tmp" is made anew (a regular file of that name, left by a run that
  // was cut short, is removed first); anything else in its place (a link, a
  // named pipe) is never written through: the map is not saved then.
  bool SaveMap(const std::string& text) override;
  std::string Failure() const override { return m_failure; }

 private:
  bool Fail(const std::string& what, int error);

  std::string m_imagePath;
  std::string m_mapPath;
  std::string m_failure;
  int m_fd = -1;
};

}  // namespace kestrow
