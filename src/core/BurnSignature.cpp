#include "KestrowCore.h"
#include "volume/VolumeImage.h"

namespace kestrow {

bool CKestrowCore::CheckBurnSignature() {
  const std::int32_t count = OpenAndReadCapacity();
  if (count <= 0) return false;
  // The last sector, or one of the run-out sectors before it on a disc
  // written track-at-once.
  const bool signed_ = FindTrackTrailer(count, 0).lba >= 0;
  CloseDevice();
  if (!signed_) m_nErrorState = kErrorReadOrFormat;
  return signed_;
}

}  // namespace kestrow
