// Puts the packed copy's bytes of a volume together into one image, in the
// volume's order, each byte written once.
//
// The volume's first bytes (up to the end of its extents and catalogue
// files, and at least the primary master directory block's sector) are held
// until the master directory block is known: there the volume area's copy
// meets the packed copy (MeetVolumeArea), the disc is checked against the
// volume listed, and the bytes are written. Everything after them goes to
// the sink as it comes. At the end the image is made as long as the master
// directory block says, and an alternate master directory block that the
// packed data lacks is the primary's copy.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Spans.h"
#include "recovery/RecoveryJob.h"
#include "recovery/VolumeUnpack.h"
#include "volume/MasterDirectoryBlock.h"
#include "volume/VolumeImage.h"

namespace kestrow {

class VolumeAssembler {
 public:
  // `area` holds the volume area's copy of the volume from its byte 0
  // (empty when the area was not read), `areaUnreadable` the ranges of it
  // that could not be read. With `listed`, the volume must be that one.
  VolumeAssembler(ImageSink& sink, std::span<const std::uint8_t> area, std::vector<ByteSpan> areaUnreadable,
                  std::optional<ListedVolume> listed = std::nullopt);

  // Volume bytes [at, at + bytes.size()) of the packed copy. Bytes before
  // those handed so far are dropped; a gap before `at` is bytes the packed
  // data does not hold. `lost` (offsets into `bytes`) could not be read,
  // `absent` no block holds: both are zeros in `bytes`. False once the
  // assembly has failed.
  bool Put(std::uint64_t at, std::span<const std::uint8_t> bytes, const std::vector<ByteSpan>& lost = {},
           const std::vector<ByteSpan>& absent = {});
  // Volume bytes [at, at + length) that could not be read: zeros.
  bool PutLost(std::uint64_t at, std::uint64_t length);

  // After the last bytes: the packed data ends at volume byte `packedEnd`.
  // Writes what is still held and the image's end. False when it failed.
  bool Finish(std::uint64_t packedEnd);

  UnpackFailure Failure() const { return m_failure; }
  const std::string& FailureText() const { return m_failureText; }
  std::uint64_t Position() const { return m_position; }
  // Known once the first bytes are written.
  const std::optional<MasterDirectoryBlock>& Mdb() const { return m_mdb; }
  // After Finish:
  std::uint64_t ImageBytes() const { return m_written; }
  bool MdbSizeUsed() const { return m_mdbSizeUsed; }
  bool AlternateMdbCopied() const { return m_alternateCopied; }
  const AreaMeeting& Meeting() const { return m_meeting; }
  std::uint64_t BytesTakenFromArea() const;
  // Volume ranges lost (zeros in the image), sorted and merged.
  std::vector<ByteSpan> Lost() const { return MergeSpans(m_lost); }
  // The volume's first bytes as a volume area holds them: the preamble
  // (zeros), then the image's bytes up to the end of its metadata.
  const VolumeImage& MetadataImage() const { return m_image; }
  // The image bytes of MetadataImage() that are lost.
  std::vector<ByteSpan> MetadataImageLost() const;

 private:
  // Hands on volume bytes [m_position, to): `data` (nullptr for zeros).
  bool Advance(std::uint64_t to, const std::uint8_t* data);
  // Once the bytes of the primary master directory block are in: which
  // copy gives it, and how far the metadata reaches.
  void DecideMdb();
  // The held bytes meet the area's, are checked and written.
  bool Flush();
  bool AppendZeros(std::uint64_t count);
  bool Append(std::span<const std::uint8_t> bytes);
  bool Fail(UnpackFailure failure, std::string text);
  std::span<std::uint8_t> HeldVolume();

  ImageSink& m_sink;
  std::span<const std::uint8_t> m_area;
  std::vector<ByteSpan> m_areaUnreadable;
  std::optional<ListedVolume> m_listed;
  VolumeImage m_image;             // preamble, then the held volume bytes
  std::uint64_t m_heldEnd = 0;     // volume bytes held before the flush
  std::uint64_t m_position = 0;    // volume bytes handed on so far
  std::uint64_t m_written = 0;     // bytes given to the sink
  bool m_flushed = false;
  bool m_mdbDecided = false;
  std::optional<MasterDirectoryBlock> m_mdb;
  std::vector<ByteSpan> m_missing;  // before the flush: bytes the packed copy does not hold
  std::vector<ByteSpan> m_lost;
  AreaMeeting m_meeting;
  bool m_mdbSizeUsed = false;
  bool m_alternateCopied = false;
  UnpackFailure m_failure = UnpackFailure::kNone;
  std::string m_failureText;
};

}  // namespace kestrow
