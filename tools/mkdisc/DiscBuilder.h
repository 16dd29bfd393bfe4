// Building a raw Kestrow PRO disc image from an HFS volume image.
//
// Disc: [leading sectors][group 0]...[group G-1][volume section]
//   - groups of 248 sectors hold the volume's 8 KiB blocks (see GroupPacker);
//   - the volume section is the last whole groups' worth of sectors: it holds
//     the volume area (a 15,360-byte preamble with the "Pack" table, then the
//     HFS volume up to the end of its catalogue), starting in its first
//     sector at the chosen 512-byte offset, and the "Trkb" trailer in its last.
// Every sector is a Mode 1 raw sector of 2,352 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "GroupPacker.h"

namespace kestrow::mkdisc {

struct DiscOptions {
  std::size_t blocksPerGroup = 0;   // most blocks in one group; 0: as many as fit
  unsigned volumeStartOffset = 0;   // 512-byte units into the volume section's first sector, 0..3
  bool uncompressed = false;        // store every block plain instead of LZS where that is shorter
  std::size_t leadingSectors = 16;  // zero sectors before group 0
  std::uint64_t firstBlock = 0;     // the packed data begins with this 8 KiB block (a disc whose
                                    // metadata is only in its volume area)
};

// Where everything lies on the built disc.
struct DiscLayout {
  std::uint32_t sectorCount = 0;
  std::uint32_t firstGroupSector = 0;     // LBA of group 0
  std::uint32_t groupCount = 0;
  std::uint32_t blockCount = 0;
  std::uint32_t compressedBlocks = 0;
  std::uint32_t volumeSectionSector = 0;  // first LBA of the volume section
  std::uint32_t volumeSectionSectors = 0;
  std::uint32_t volumeStart = 0;          // the trailer's fields, 512-byte units
  std::uint32_t volumeEnd = 0;
  std::uint64_t areaBytes = 0;            // the volume area (the reader's volume image)
};

// Everything a disc needs before its first sector is written.
struct DiscPlan {
  DiscLayout layout;
  std::vector<PackedGroup> groups;
  std::vector<std::uint8_t> area;  // the volume area, areaBytes long
};

// Checks the volume and the options, compresses and packs the blocks and
// lays out the disc. On failure `error` says why and nothing is planned.
bool PlanDisc(std::span<const std::uint8_t> volume, const DiscOptions& options, DiscPlan& plan, std::string& error);

// Receives the disc's raw sectors in LBA order; false stops the emission.
using SectorSink = std::function<bool(std::span<const std::uint8_t> rawSector)>;

// Hands every sector of the planned disc to `sink`, LBA 0 first. False when
// the sink refused one.
bool EmitDisc(const DiscPlan& plan, const SectorSink& sink);

// Plans and emits the whole disc into `disc` (2,352 bytes per sector).
bool BuildDisc(std::span<const std::uint8_t> volume, const DiscOptions& options, std::vector<std::uint8_t>& disc,
               DiscLayout& layout, std::string& error);

}  // namespace kestrow::mkdisc
