// The straightforward reader the fast paths must match byte for byte: one
// READ CD of one sector per command, every group read again for every file.
// Tests run it on a second core over the same disc and the same faults.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "KestrowCore.h"
#include "recovery/DataLocation.h"
#include "recovery/ExtractRange.h"
#include "recovery/OutputFiles.h"
#include "volume/PackedFormat.h"

namespace kestrow::reference {

// One raw sector as ReadRawSector left it: the bytes it reported transferred.
// `Reader` is a core or a SectorReader.
template <typename Reader>
std::vector<std::uint8_t> ReadOne(Reader& reader, std::int32_t lba, bool& ok) {
  std::vector<std::uint8_t> storage(format::kRawSectorSize + 16);
  std::uint8_t* sector = AlignSectorBuffer(storage.data());
  const std::int32_t transferred = reader.ReadRawSector(lba, sector);
  ok = transferred > 0;
  return ok ? std::vector<std::uint8_t>(sector, sector + transferred) : std::vector<std::uint8_t>{};
}

// The volume area, one sector per command; the device must be open.
inline bool ReadVolumeImage(CKestrowCore& core, VolumeImage& image) {
  const std::int32_t capacity = core.ReadCapacity();
  if (capacity <= 0) return false;
  bool ok = false;
  const auto last = ReadOne(core, capacity - 1, ok);
  if (!ok) return false;
  const auto trailer =
      ParseTrackTrailer(std::span<const std::uint8_t>(last).subspan(format::kUserDataOffset));
  if (!trailer || !trailer->HasSignature()) return false;
  image.assign(trailer->AreaBytes(), 0);
  auto lba = static_cast<std::int32_t>(trailer->volumeStart / 4);
  std::size_t skip = (trailer->volumeStart % 4) * 512;
  for (std::size_t position = 0; position < image.size(); ++lba, skip = 0) {
    const auto raw = ReadOne(core, lba, ok);
    const auto available = static_cast<std::int64_t>(raw.size()) - 304 - static_cast<std::int64_t>(skip);
    if (!ok || available <= 0) return false;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(available), image.size() - position);
    std::memcpy(image.data() + position, raw.data() + 16 + skip, count);
    position += count;
  }
  return true;
}

// Sectors 1..247 of a group, one per command; `buffer` as far as it got.
inline bool ReadSectorGroup(CKestrowCore& core, int group, std::vector<std::uint8_t>& buffer, int base) {
  buffer.assign(format::kGroupBufferSize, 0);
  for (int i = 1; i <= 247; ++i) {
    bool ok = false;
    const auto raw = ReadOne(core, base + group * 248 + i, ok);
    if (!ok || raw.size() < 2064) return false;
    std::memcpy(buffer.data() + (i - 1) * 2048, raw.data() + 16, 2048);
  }
  return true;
}

// How a job over `files` ended, in the terms of RecoveryOutcome.
struct JobResult {
  RecoveryState state = RecoveryState::kIdle;
  std::size_t failedFile = 0;
  std::uint32_t written = 0;
  std::vector<std::size_t> unwritten;
  std::vector<std::size_t> incomplete;
};

// The recovery worker with no cache: every file reads its groups itself.
inline JobResult RunJob(CKestrowCore& core, const std::vector<FileEntry>& files, const std::string& dest) {
  JobResult result;
  VolumeImage image;
  MasterDirectoryBlock mdb;
  std::vector<std::int32_t> boundaries;
  if (!core.OpenDevice() || !ReadVolumeImage(core, image) || !core.ReadMasterDirectoryBlock(image, mdb) ||
      !ReadPackTable(image, boundaries)) {
    core.CloseDevice();
    result.state = RecoveryState::kFailedEarly;
    return result;
  }
  const std::int32_t sectors = core.ReadCapacity();
  const int base = GroupBaseSector(sectors, static_cast<int>(image.size()), static_cast<int>(boundaries.size()));
  const int maxGroups = std::max(sectors, 0) / 248 + 1;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& entry = files[i];
    const ByteRange range = ForkByteRange(entry, static_cast<std::int32_t>(mdb.drAlBlkSiz()));
    std::vector<GroupBuffer> groups;
    if (entry.dataLogicalLength > 0) {
      const int first = FindGroupIndex(boundaries, range.start);
      const int last = FindGroupIndex(boundaries, range.end);
      if (boundaries.size() < 2 || first < 0 || first > last || last - first >= maxGroups) {
        result.unwritten.push_back(i);
        continue;
      }
      for (int g = first; g <= last; ++g) {
        groups.emplace_back();
        if (!ReadSectorGroup(core, g, groups.back(), base)) {
          core.CloseDevice();
          result.state = RecoveryState::kFailedAtFile;
          result.failedFile = i;
          return result;
        }
      }
    }
    std::vector<std::uint8_t> data(entry.dataLogicalLength, 0);
    const bool complete = ExtractRange(groups, static_cast<std::uint32_t>(range.start),
                                       static_cast<std::uint32_t>(range.end), data);
    if (WriteOutputFiles(entry, data, dest).dataWritten) {
      ++result.written;
      if (!complete) result.incomplete.push_back(i);
    } else {
      result.unwritten.push_back(i);
    }
  }
  core.CloseDevice();
  result.state = RecoveryState::kFinished;
  return result;
}

}  // namespace kestrow::reference
