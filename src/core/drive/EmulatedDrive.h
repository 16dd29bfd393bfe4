// A transport that answers READ CAPACITY(10) and READ CD(12) like a drive,
// from sectors that a subclass supplies (a disc image file, bytes in memory).
//
// A READ CD of several sectors fails as a whole when any of them cannot be
// read, as a drive does; the sense data then says why (medium error, or an
// address past the end).
#pragma once

#include <cstdint>
#include <span>

#include "drive/Transport.h"

namespace kestrow {

class EmulatedDrive : public Transport {
 public:
  CommandResult Execute(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn,
                        unsigned timeoutSeconds) override;

 protected:
  // Number of whole sectors on the emulated disc (valid while open).
  virtual std::uint32_t SectorCount() const = 0;
  // Fills `raw` (2352 bytes) with sector `lba`; false when it cannot be read.
  // Only called for lba < SectorCount().
  virtual bool ReadSector(std::uint32_t lba, std::span<std::uint8_t> raw) = 0;
  // Fills `raw` (count x 2352 bytes) with sectors lba..lba+count-1; false
  // when any of them cannot be read. Only called for a range inside the disc.
  // One ReadSector per sector unless a subclass can do better.
  virtual bool ReadSectors(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> raw);

 private:
  CommandResult ReadCapacity(std::span<std::uint8_t> dataIn) const;
  CommandResult ReadCd(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> dataIn);
};

}  // namespace kestrow
