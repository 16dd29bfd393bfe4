#include "MemoryTransport.h"

#include <limits>
#include <utility>

#include "drive/Mode1Sector.h"
#include "drive/RawSector.h"

namespace kestrow {

MemoryTransport::MemoryTransport(std::vector<std::uint8_t> userData)
    : m_userData(std::move(userData)) {}

std::uint32_t MemoryTransport::SectorCount() const {
  const std::size_t sectors = m_userData.size() / format::kUserDataSize;
  if (sectors > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(sectors);
}

bool MemoryTransport::ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) {
  const auto user = std::span<const std::uint8_t>(m_userData)
                        .subspan(static_cast<std::size_t>(lba) * format::kUserDataSize,
                                 format::kUserDataSize);
  SynthesizeMode1Sector(lba, user, raw);
  return true;
}

}  // namespace kestrow
