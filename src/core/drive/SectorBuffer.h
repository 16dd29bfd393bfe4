// A raw sector buffer: 2352 + 16 bytes, of which the 16-byte aligned start
// holds one raw sector.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "drive/RawSector.h"
#include "drive/SectorCheck.h"
#include "drive/SectorReader.h"

namespace kestrow {

class SectorBuffer {
 public:
  SectorBuffer() : m_sector(AlignSectorBuffer(m_storage.data())) {}
  SectorBuffer(const SectorBuffer&) = delete;
  SectorBuffer& operator=(const SectorBuffer&) = delete;

  std::uint8_t* data() { return m_sector; }
  std::span<const std::uint8_t> raw() const { return {m_sector, format::kRawSectorSize}; }
  // The user data of a sector read for it (Mode 1 or Mode 2 Form 1).
  std::span<const std::uint8_t> userData() const { return UserDataOf(raw()); }

 private:
  std::array<std::uint8_t, format::kRawSectorSize + 16> m_storage{};
  std::uint8_t* m_sector;
};

}  // namespace kestrow
