// The disc's HFS volume as one plain image: every group's blocks decoded
// into the volume's byte space, in the order of the volume, as HFS tools and
// Mac emulators open it.
//
// The packed data is the volume as it was before packing, from its byte 0.
// The volume area at the disc's end holds a second copy of its first bytes
// (master directory block, extents and catalogue files): where both copies
// hold a byte the packed copy's stays and the bytes that differ are counted;
// where only the volume area holds one it fills the image.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/ReadPolicy.h"
#include "Spans.h"
#include "recovery/RecoveryJob.h"
#include "recovery/SalvagedVolume.h"
#include "volume/FileEntry.h"
#include "volume/MasterDirectoryBlock.h"
#include "volume/VolumeImage.h"

namespace kestrow {

class SectorReader;
struct DamageReport;

// ---------------------------------------------------------------------------
// Pure rules over bytes.

// The volume's size as its master directory block gives it: drAlBlSt x 512
// + drNmAlBlks x drAlBlkSiz + the 1,024 bytes at the end that hold the
// alternate master directory block. Nothing when the block gives no size
// this format can hold (a block size that is no positive multiple of 512, a
// volume past 2^31 - 1 bytes).
std::optional<std::uint64_t> MdbVolumeBytes(const MasterDirectoryBlock& mdb);

// The alternate master directory block's sector: 1,024 bytes before the
// volume's end.
inline constexpr std::uint64_t kAlternateMdbFromEnd = 1024;
// The primary's sector: volume bytes 1,024 to 1,535.
inline constexpr std::uint64_t kMdbSectorEnd = 1536;

// A structure of the volume's own and the volume bytes it takes.
struct NamedSpan {
  std::string name;  // "catalogue file", "extents file", ...
  ByteSpan bytes;
};

// The volume's own structures in a volume of `volumeBytes` bytes: boot
// blocks, master directory block, volume bitmap, the extents and catalogue
// files at the extents the block gives them, the alternate master directory
// block.
std::vector<NamedSpan> VolumeStructures(const MasterDirectoryBlock& mdb, std::uint64_t volumeBytes);

// The volume byte after the extents and catalogue files (0 when the block
// names neither).
std::uint64_t MetadataEnd(const MasterDirectoryBlock& mdb);

// Where the two copies of the volume's first bytes meet: `packed` and `area`
// hold volume bytes from byte 0 on; `packedMissing` and `areaUnreadable` are
// the ranges each does not hold. Over the bytes both spans reach, a byte
// both hold is compared (the packed copy's stays), and a byte only the area
// holds is copied into `packed`.
struct AreaMeeting {
  std::uint64_t differing = 0;     // bytes both held that differ
  std::vector<ByteSpan> taken;     // ranges copied from the area
};
AreaMeeting MeetVolumeArea(std::span<std::uint8_t> packed, const std::vector<ByteSpan>& packedMissing,
                           std::span<const std::uint8_t> area, const std::vector<ByteSpan>& areaUnreadable);

// What the volume ranges that were lost hit.
struct VolumeHits {
  std::vector<std::size_t> files;     // rows of the table, ascending
  std::vector<FileResult> results;    // one per entry of `files`: damaged or lost, with each fork's lost ranges
  std::vector<std::string> structures;  // names of the volume's own structures hit, in volume order
};
VolumeHits FindHits(const std::vector<ByteSpan>& lost, const FileTable& files, std::uint32_t allocBlockSize,
                    const std::vector<NamedSpan>& structures);

// The ranges both `a` and `b` hold (each sorted and merged).
std::vector<ByteSpan> IntersectSpans(const std::vector<ByteSpan>& a, const std::vector<ByteSpan>& b);

// ---------------------------------------------------------------------------
// Writing the image.

// Where the image's bytes go, in the volume's order, each once.
class ImageSink {
 public:
  virtual ~ImageSink() = default;
  // Appends `bytes`; false (with the reason) when they could not be written.
  virtual bool Append(std::span<const std::uint8_t> bytes, std::string& error) = 0;
};

struct UnpackSettings {
  ReadPolicy policy;  // keepGoing: lost blocks are zeros, found by search where the disc's end is gone
  // When given, the disc must hold this volume (its name and creation
  // date), or nothing is written.
  std::optional<ListedVolume> listedVolume;
};

enum class UnpackFailure {
  kNone,
  kCannotOpen,        // the drive or image could not be opened
  kOutputInTheWay,    // something that is not a file we may replace is where the image goes
  kCannotWrite,       // the image (or its folder) could not be written
  kNotOurs,           // no trailer, and (keep-going) no group of packed data either
  kNoVolume,          // the trailer was found, the volume area could not be read
  kUnknownFormat,     // no readable master directory block or "Pack" table
  kMetadataGone,      // keep-going: the area is gone and the packed data lacks the volume's first blocks
  kUnreadableSector,  // without keep-going: a sector of a group could not be read
  kDifferentDisc,     // the disc holds another volume than the one listed
  kDiscChanged,       // the disc may have changed while it was read
  kStopped,           // the progress callback asked to stop
};

struct UnpackOutcome {
  UnpackFailure failed = UnpackFailure::kNone;
  std::string failure;                // why, in words, when there is more to say
  VolumeAreaRead area;                // where the trailer was; what failed the volume area
  std::int32_t failedLba = -1;        // kUnreadableSector: the sector
  int failedGroup = -1;               // and its group
  ListedVolume volume;                // the volume's name and creation date
  std::uint64_t imageBytes = 0;       // the image's size
  std::uint64_t packedEnd = 0;        // the volume byte where the packed data ends
  bool mdbSizeUsed = false;           // the master directory block's size counted
  bool alternateMdbCopied = false;    // the packed data lacked it: the primary's copy stands there
  std::uint64_t bytesDifferingFromArea = 0;
  std::uint64_t bytesTakenFromArea = 0;
  std::vector<ByteSpan> lostVolumeRanges;   // zeros in the image, end exclusive
  std::vector<SectorSpan> unreadableSectors;
  FileTable filesHit;                 // the files the lost ranges hit, in catalogue order
  std::vector<FileResult> fileResults;  // one per entry of filesHit
  std::vector<std::string> structuresHit;
  std::size_t lostCatalogNodes = 0;   // catalogue nodes neither copy held
  SalvageFacts salvage;               // keep-going: how the groups were found, which were lost

  bool Whole() const { return failed == UnpackFailure::kNone && lostVolumeRanges.empty(); }
};

// Done and total volume bytes (total 0 while not known); returning false
// asks the unpack to stop.
using UnpackProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Reads the volume area, then every group once, in disc order, and hands
// the image to `sink`. Without keep-going the first sector that cannot be
// read ends it. False when the image is not whole in `sink` (the outcome
// says why); with keep-going, lost blocks are zeros and the outcome names
// them, and the result is true.
bool UnpackVolume(SectorReader& reader, const UnpackSettings& settings, ImageSink& sink, UnpackOutcome& outcome,
                  const UnpackProgress& progress = {});

// UnpackVolume into the file `path`: written under a temporary name in its
// folder and renamed into place once complete, never through a link; what
// is in the way (a link, a named pipe, a folder, a file we may not replace,
// the disc's own files) is refused before the disc is read. False, leaving
// no file (and whatever was at `path` as it was), when the image is not in
// place.
bool WriteVolumeImage(SectorReader& reader, const std::string& path, const UnpackSettings& settings,
                      UnpackOutcome& outcome, const UnpackProgress& progress = {});

// The report of an unpack: the files hit, the unreadable sectors, the lost
// volume ranges and the structures they hit.
DamageReport ReportOfUnpack(const UnpackOutcome& outcome,
                            const std::function<std::string(const FileEntry&)>& displayPath);

}  // namespace kestrow
