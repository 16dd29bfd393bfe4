// The two MMC commands the program sends, built once above the transports.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "drive/Transport.h"

namespace kestrow::scsi {

inline constexpr std::uint8_t kOpReadCapacity10 = 0x25;
inline constexpr std::uint8_t kOpReadCd12 = 0xBE;
inline constexpr std::uint8_t kReadCdWholeSector = 0xF8;  // sync, headers, user data, EDC/ECC
inline constexpr unsigned kTimeoutSeconds = 5;
inline constexpr std::size_t kCapacityResultSize = 8;

std::array<std::uint8_t, 10> BuildReadCapacity10();
std::array<std::uint8_t, 12> BuildReadCd12(std::uint32_t lba, std::uint32_t sectorCount);

// The sector count in the result of a READ CAPACITY that ended as `result`,
// or -1 when it failed or transferred nothing.
std::int32_t CapacityOf(const CommandResult& result, std::span<const std::uint8_t> data);

// READ CAPACITY: the sector count (last LBA + 1), or -1 when the command
// failed or transferred nothing. `outcome`, when given, receives how the
// command ended.
std::int32_t ReadCapacity(Transport& transport, CommandResult* outcome = nullptr);

// READ CD of one whole raw sector into `sector` (at least 2352 bytes): the
// number of bytes transferred, or -1 when the command failed or moved nothing.
std::int32_t ReadRawSector(Transport& transport, std::int32_t lba, std::span<std::uint8_t> sector,
                           CommandResult* outcome = nullptr);

}  // namespace kestrow::scsi
