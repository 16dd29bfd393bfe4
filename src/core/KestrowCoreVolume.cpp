// The facade's volume operations: the trailer, the volume area, the master
// directory block, sector groups, the catalogue, where the groups lie, and
// the volume image.
#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/GroupSearch.h"
#include "volume/CatalogScan.h"
#include "volume/SectorGroup.h"
#include "volume/VolumeImage.h"

namespace kestrow {

bool CKestrowCore::CheckBurnSignature(TrailerSearch* search) {
  return WithDevice([&] {
    const std::int32_t count = m_reader.ReadCapacity();
    if (count <= 0) return false;
    // The last sector, or one of the run-out sectors before it on a disc
    // written track-at-once.
    const TrailerSearch found = FindTrackTrailer(m_reader, count, 0);
    if (search) *search = found;
    return found.lba >= 0;
  });
}

bool CKestrowCore::LoadVolumeImage(VolumeImage& image, TrackTrailer* trailerOut) {
  VolumeAreaRead read;
  const bool loaded = LoadVolumeImage(image, read);
  if (trailerOut && read.trailerLba >= 0) *trailerOut = read.trailer;
  return loaded;
}

bool CKestrowCore::ReadVolumeImage(VolumeImage& image, TrackTrailer* trailerOut) {
  VolumeAreaRead read;
  const bool loaded = ReadVolumeImage(image, read);
  if (trailerOut && read.trailerLba >= 0) *trailerOut = read.trailer;
  return loaded;
}

bool CKestrowCore::LoadVolumeImage(VolumeImage& image, VolumeAreaRead& read, const ReadPolicy& policy) {
  read = VolumeAreaRead{};
  return WithDevice([&] { return ReadVolumeArea(m_reader, image, read, policy); });
}

bool CKestrowCore::ReadVolumeImage(VolumeImage& image, VolumeAreaRead& read, const ReadPolicy& policy) {
  return Judge(ReadVolumeArea(m_reader, image, read, policy));
}

bool CKestrowCore::ReadMasterDirectoryBlock(const VolumeImage& image, MasterDirectoryBlock& mdb) {
  return Judge(ParseMasterDirectoryBlock(image, mdb));
}

bool CKestrowCore::ReadSectorGroup(int group, std::vector<std::uint8_t>& buffer, int baseSector) {
  GroupSectorMask unreadable;
  return ReadSectorGroup(group, buffer, baseSector, ReadPolicy{}, unreadable);
}

bool CKestrowCore::ReadSectorGroup(int group, std::vector<std::uint8_t>& buffer, int baseSector,
                                   const ReadPolicy& policy, GroupSectorMask& unreadable,
                                   const UnreadableSink& sink) {
  return kestrow::ReadSectorGroup(m_reader, group, buffer, baseSector, policy, unreadable, sink);
}

bool CKestrowCore::ScanCatalog(const VolumeImage& image, FileTable& files) {
  std::size_t lostNodes = 0;
  return ScanCatalog(image, files, {}, lostNodes);
}

bool CKestrowCore::ScanCatalog(const VolumeImage& image, FileTable& files, const std::vector<ByteSpan>& unreadable,
                               std::size_t& lostNodes, bool includeDeleted) {
  return Judge(ListCatalogFiles(image, files, unreadable, lostNodes, includeDeleted));
}

bool CKestrowCore::ReadPackTable(const VolumeImage& image, std::vector<std::int32_t>& boundaries) {
  return kestrow::ReadPackTable(image, boundaries);
}

bool CKestrowCore::ExtractRange(const std::vector<GroupBuffer>& groups, std::int32_t start, std::int32_t end,
                                std::vector<std::uint8_t>& out) {
  return kestrow::ExtractRange(groups, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end), out);
}

void CKestrowCore::JudgeUnpack(const UnpackOutcome& outcome) {
  switch (outcome.failed) {
    case UnpackFailure::kNone:
    case UnpackFailure::kOutputInTheWay:
    case UnpackFailure::kCannotWrite:
    case UnpackFailure::kStopped:
      break;
    case UnpackFailure::kCannotOpen:
      m_nErrorState = kErrorCannotOpen;
      break;
    default:
      Judge(false);
  }
}

bool CKestrowCore::UnpackVolume(const UnpackSettings& settings, ImageSink& sink, UnpackOutcome& outcome,
                                const UnpackProgress& progress) {
  const bool unpacked = kestrow::UnpackVolume(m_reader, settings, sink, outcome, progress);
  JudgeUnpack(outcome);
  return unpacked;
}

bool CKestrowCore::WriteVolumeImage(const std::string& path, const UnpackSettings& settings, UnpackOutcome& outcome,
                                    const UnpackProgress& progress) {
  const bool written = kestrow::WriteVolumeImage(m_reader, path, settings, outcome, progress);
  JudgeUnpack(outcome);
  return written;
}

GroupSearch CKestrowCore::SearchGroups(std::int32_t sectorCount, const ReadPolicy& policy,
                                       const UnreadableSink& sink) {
  return kestrow::SearchGroups(m_reader, sectorCount, policy, sink);
}

}  // namespace kestrow
