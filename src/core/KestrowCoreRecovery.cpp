// The facade's salvage of a disc whose end may be gone.
#include "KestrowCore.h"
#include "recovery/SalvagedVolume.h"

namespace kestrow {

bool CKestrowCore::LoadSalvagedVolume(SalvagedVolume& volume, const ReadPolicy& policy) {
  volume = SalvagedVolume{};
  bool opened = false;
  const bool loaded = WithDevice([&] {
    opened = true;
    return ReadSalvagedVolume(volume, policy);
  });
  if (!opened) volume.failure = "the source could not be opened";
  return loaded;
}

bool CKestrowCore::ReadSalvagedVolume(SalvagedVolume& volume, const ReadPolicy& policy) {
  const bool loaded = kestrow::ReadSalvagedVolume(m_reader, volume, policy);
  // A volume area that did not load is a failed read, whatever the packed copy held.
  return Judge(loaded && volume.areaLoaded) || loaded;
}

}  // namespace kestrow
