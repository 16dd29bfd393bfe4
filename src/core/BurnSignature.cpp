#include "KestrowCore.h"
#include "volume/VolumeImage.h"

namespace kestrow {

bool CKestrowCore::CheckBurnSignature(TrailerSearch* search) {
  const std::int32_t count = OpenAndReadCapacity();
  if (count <= 0) return false;
  // The last sector, or one of the run-out sectors before it on a disc
  // written track-at-once.
  const TrailerSearch found = FindTrackTrailer(count, 0);
  if (search) *search = found;
  const bool signed_ = found.lba >= 0;
  CloseDevice();
  if (!signed_) m_nErrorState = kErrorReadOrFormat;
  return signed_;
}

}  // namespace kestrow
