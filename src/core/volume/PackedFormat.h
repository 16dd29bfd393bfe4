// The on-disc layout of a Kestrow PRO disc, in one place for the reader and
// for the image builder (tools/mkdisc).
//
// Disc:   [leading sectors][group 0][group 1]...[group n-2][volume area ... trailer]
//         Each group is 248 sectors; the volume area and the trailer sector take
//         the last whole groups' worth of sectors of the disc.
// Volume area (the VolumeImage): 15,360 bytes of preamble holding the "Pack"
//         table, then the HFS volume from its byte 0 up to the end of its
//         catalogue.
// Group:  sector 0 is never read; sectors 1..247 hold a block table followed
//         by the blocks' stored data (LZS streams or plain 8 KiB blocks).
#pragma once

#include <cstddef>
#include <cstdint>

#include "drive/RawSector.h"

namespace kestrow::format {

inline constexpr std::size_t kUnitSize = 512;  // the trailer's and tables' address unit
inline constexpr std::size_t kUnitsPerSector = kUserDataSize / kUnitSize;

// Trailer at the start of the last sector's user data.
inline constexpr char kTrailerSignature[] = "Trkb";
inline constexpr std::size_t kTrailerVolumeStartOffset = 28;  // 32-bit, 512-byte units
inline constexpr std::size_t kTrailerVolumeEndOffset = 33;    // 24-bit, 512-byte units
inline constexpr std::size_t kTrailerRawBytes = 52;           // what the reader copies

// Offsets inside the volume image.
inline constexpr std::size_t kPackTableOffset = 0x0C00;
inline constexpr std::size_t kVolumeOffset = 0x3C00;      // HFS volume byte 0
inline constexpr std::size_t kMdbOffset = 0x4000;         // volume byte 1,024
inline constexpr std::size_t kMdbSize = 162;
inline constexpr std::size_t kCatalogScanOffset = 0x6200; // allocation block 0
inline constexpr std::size_t kAllocationBlock0 = 9728;    // volume byte of allocation block 0

// Packed-data table ("Pack"), at kPackTableOffset in the volume image.
inline constexpr char kPackSignature[] = "Pack";
inline constexpr std::size_t kPackCountOffset = kPackTableOffset + 13;   // 24-bit entry count
inline constexpr std::size_t kPackEntriesOffset = kPackTableOffset + 24; // 8 bytes each
inline constexpr std::size_t kPackEntrySize = 8;
inline constexpr std::size_t kPackEntryValueOffset = 1;  // 24-bit boundary, 512-byte units

// Sector groups and their block tables.
inline constexpr std::size_t kGroupSectors = 248;
inline constexpr std::size_t kGroupDataSectors = kGroupSectors - 1;  // sector 0 is not read
inline constexpr std::size_t kGroupBufferSize = kGroupDataSectors * kUserDataSize;  // 505,856
inline constexpr std::size_t kGroupDataOffsetBias = kUserDataSize;  // data offsets count from sector 0
inline constexpr std::size_t kGroupBlockCountOffset = 14;  // 16-bit
inline constexpr std::size_t kGroupDataEndOffset = 16;     // 32-bit data offset
inline constexpr std::size_t kGroupEntriesOffset = 44;
inline constexpr std::size_t kGroupEntrySize = 8;
inline constexpr std::size_t kGroupEntryPositionOffset = 1;    // 24-bit, 512-byte units
inline constexpr std::size_t kGroupEntryDataOffsetOffset = 5;  // 24-bit data offset

// The packed-data table must fit in the volume image's preamble.
inline constexpr std::size_t kPackMaxEntries = (kVolumeOffset - kPackEntriesOffset) / kPackEntrySize;

// Blocks of the volume address space.
inline constexpr std::size_t kBlockSize = 8192;
inline constexpr std::size_t kUnitsPerBlock = kBlockSize / kUnitSize;

// HFS master directory block fields (offsets inside the block).
inline constexpr std::size_t kMdbAllocBlockSizeOffset = 20;  // drAlBlkSiz, 32-bit
inline constexpr std::size_t kMdbAllocBlockStartOffset = 28; // drAlBlSt, 16-bit, 512-byte units
inline constexpr std::size_t kMdbCatalogExtentsOffset = 150; // drCTExtRec: 3 x (16-bit start, 16-bit count)
inline constexpr std::size_t kMdbExtentCount = 3;
inline constexpr std::size_t kMdbVolumeOffset = 1024;        // the MDB's volume byte

// LZS streams: one per block, MSB-first bits, 9-bit tokens.
inline constexpr std::size_t kLzsMaxOffset = 2047;       // 11-bit offsets
inline constexpr std::size_t kLzsShortOffsetLimit = 128; // offsets below this fit 7 bits
inline constexpr std::size_t kLzsMinMatch = 2;
inline constexpr unsigned kLzsEndMarker = 0x180;         // 1 1 0000000
inline constexpr unsigned kLzsLengthGroupMax = 15;       // a 4-bit group of 1111 continues the code

}  // namespace kestrow::format
