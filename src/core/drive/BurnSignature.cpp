#include "drive/KestrowCore.h"
#include "drive/SectorBuffer.h"
#include "volume/VolumeImage.h"

namespace kestrow {

bool CKestrowCore::CheckBurnSignature() {
  if (!OpenDevice()) {
    m_nErrorState = kErrorCannotOpen;
    return false;
  }
  const std::int32_t count = ReadCapacity();
  if (count <= 0) {
    CloseDevice();
    m_nErrorState = kErrorReadOrFormat;
    return false;
  }
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
