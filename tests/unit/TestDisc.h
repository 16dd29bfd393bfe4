// Hand-made discs and catalogue nodes for the unit tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "MemoryTransport.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::test {

// The user data of a disc of `sectors` sectors, with a "Trkb" trailer in the
// last sector naming [volumeStart, volumeEnd) and the area filled from `area`.
inline std::vector<std::uint8_t> MakeDiscUserData(std::uint32_t sectors, std::uint32_t volumeStart,
                                                  std::uint32_t volumeEnd,
                                                  const std::vector<std::uint8_t>& area) {
  std::vector<std::uint8_t> disc(std::size_t{sectors} * format::kUserDataSize, 0);
  const std::size_t areaOffset = std::size_t{volumeStart} * format::kUnitSize;
  for (std::size_t i = 0; i < area.size() && areaOffset + i < disc.size(); ++i) disc[areaOffset + i] = area[i];
  std::uint8_t* last = disc.data() + (std::size_t{sectors} - 1) * format::kUserDataSize;
  std::memcpy(last, "Trkb", 4);
  PutBe32(last + format::kTrailerVolumeStartOffset, volumeStart);
  last[32] = 0xEE;  // not part of the end field
  PutBe24(last + format::kTrailerVolumeEndOffset, volumeEnd);
  return disc;
}

inline std::unique_ptr<MemoryTransport> MakeDisc(std::vector<std::uint8_t> userData) {
  return std::make_unique<MemoryTransport>(std::move(userData));
}

// A catalogue key + record data assembled into a 512-byte node.
class NodeBuilder {
 public:
  explicit NodeBuilder(std::uint8_t type = 0xFF) { m_node[8] = type; }

  // Places a record at `offset` with the given key length (name after 7
  // bytes) and returns the offset of its data.
  std::size_t AddRecord(std::size_t offset, std::uint8_t keyLength, std::uint32_t parentId,
                        const std::string& name, const std::vector<std::uint8_t>& data) {
    m_node[offset] = keyLength;
    PutBe32(&m_node[offset + 2], parentId);
    m_node[offset + 6] = static_cast<std::uint8_t>(name.size());
    std::memcpy(&m_node[offset + 7], name.data(), name.size());
    const std::size_t dataOffset = offset + keyLength + 1 + (keyLength % 2 == 0 ? 1 : 0);
    std::memcpy(&m_node[dataOffset], data.data(), data.size());
    SetOffset(m_count++, offset);
    m_node[11] = static_cast<std::uint8_t>(m_count);
    return dataOffset;
  }
  void SetOffset(std::size_t index, std::size_t offset) { PutBe16(&m_node[510 - 2 * index], static_cast<std::uint32_t>(offset)); }
  void SetRecordCount(std::uint8_t high, std::uint8_t low) { m_node[10] = high; m_node[11] = low; }
  std::uint8_t* data() { return m_node.data(); }
  const std::vector<std::uint8_t>& bytes() const { return m_node; }

 private:
  std::vector<std::uint8_t> m_node = std::vector<std::uint8_t>(512, 0);
  std::size_t m_count = 0;
};

inline std::vector<std::uint8_t> DirectoryData(std::uint32_t dirId) {
  std::vector<std::uint8_t> data(70, 0);
  data[0] = 1;
  PutBe32(&data[6], dirId);
  return data;
}

struct FileFields {
  std::uint32_t fileId = 0;
  const char* type = "TEXT";
  const char* creator = "ttxt";
  std::uint32_t dataLength = 0;
  std::uint32_t rsrcLength = 0;
  std::uint32_t firstExtentStart = 0;
};

inline std::vector<std::uint8_t> FileData(const FileFields& f) {
  std::vector<std::uint8_t> data(102, 0);
  data[0] = 2;
  std::memcpy(&data[4], f.type, 4);
  std::memcpy(&data[8], f.creator, 4);
  PutBe32(&data[20], f.fileId);
  PutBe32(&data[26], f.dataLength);
  PutBe32(&data[36], f.rsrcLength);
  PutBe16(&data[74], f.firstExtentStart);
  return data;
}

// A volume image: "BD" at 0x4000 and `nodes` laid one after another from 0x6200.
inline std::vector<std::uint8_t> MakeVolumeImage(const std::vector<std::vector<std::uint8_t>>& nodes) {
  std::vector<std::uint8_t> image(format::kCatalogScanOffset, 0);
  image[format::kMdbOffset] = 'B';
  image[format::kMdbOffset + 1] = 'D';
  for (const auto& node : nodes) image.insert(image.end(), node.begin(), node.end());
  return image;
}

// An HFS-like volume mkdisc accepts: "BD" at 1024, 512-byte allocation
// blocks from volume byte 9,728 (drAlBlSt 19), a catalogue of
// `catalogBlocks` allocation blocks from block 4. Its 8 KiB blocks are in
// turn text-like, random and nearly empty, so some compress and some do not.
inline std::vector<std::uint8_t> MakePackableVolume(std::size_t bytes, std::uint32_t catalogBlocks) {
  constexpr std::size_t kBlock = 8192;
  std::vector<std::uint8_t> volume(bytes, 0);
  std::mt19937 rng(42);
  const std::string text = "Dear Grandma, the apple pie recipe is in the Baking folder. ";
  for (std::size_t i = 0; i < bytes; ++i) {
    switch (i / kBlock % 3) {
      case 0: volume[i] = static_cast<std::uint8_t>(text[(i + i / 977) % text.size()]); break;
      case 1: volume[i] = static_cast<std::uint8_t>(rng()); break;
      default: volume[i] = i % 1000 == 0 ? 0x5A : 0; break;
    }
  }
  std::uint8_t* mdb = volume.data() + 1024;
  mdb[0] = 'B';
  mdb[1] = 'D';
  PutBe32(mdb + 20, 512);  // drAlBlkSiz
  PutBe16(mdb + 28, 19);   // drAlBlSt
  PutBe16(mdb + 150, 1);   // drCTExtRec: (1, 3), (4, catalogBlocks - 3), (0, 0)
  PutBe16(mdb + 152, 3);
  PutBe16(mdb + 154, 4);
  PutBe16(mdb + 156, catalogBlocks - 3);
  PutBe16(mdb + 158, 0);
  PutBe16(mdb + 160, 0);
  return volume;
}

}  // namespace kestrow::test
