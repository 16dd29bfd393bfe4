#include "KestrowCore.h"
#include "SectorBuffer.h"
#include "volume/VolumeImage.h"

namespace kestrow {

bool CKestrowCore::CheckBurnSignature() {
  const std::int32_t count = OpenAndReadCapacity();
  if (count <= 0) return false;
  SectorBuffer sector;
  if (ReadRawSector(count - 1, sector.data()) <= 0) {
    CloseDevice();
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
  const bool signed_ = HasTrailerSignature(sector.userData());
  CloseDevice();
  if (!signed_) m_nErrorState = kErrorReadOrFormat;
  return signed_;
}

}  // namespace kestrow
