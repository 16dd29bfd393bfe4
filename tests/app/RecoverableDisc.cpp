// A small Kestrow PRO disc with packed data: a synthetic HFS volume (master
// directory block, a catalogue of hand-made nodes, the files' data forks)
// packed by mkdisc's disc builder, four 8 KiB blocks to a group.
#include <cstring>
#include <stdexcept>

#include "DiscBuilder.h"
#include "AppTestSupport.h"
#include "TestDisc.h"
#include "text/ByteReader.h"
#include "volume/PackedFormat.h"

namespace kestrow::apptest {
namespace {

constexpr std::size_t kAllocBlockSize = 512;
constexpr std::uint32_t kRootId = 2;
constexpr std::uint32_t kDocsId = 16;
constexpr std::size_t kBlocksPerGroup = 4;
constexpr std::size_t kCatalogNodeLimit = 8;  // allocation blocks kept for the catalogue
constexpr std::size_t kFirstDataByte = format::kAllocationBlock0 + 16 * kAllocBlockSize;

std::size_t RoundUp(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

// The catalogue: a node with the two folders, then nodes of three files each.
std::vector<std::vector<std::uint8_t>> CatalogNodes(const std::vector<DiscFile>& files,
                                                    const std::vector<std::size_t>& starts) {
  std::vector<std::vector<std::uint8_t>> nodes;
  test::NodeBuilder folders;
  folders.AddRecord(14, 11, 1, "Disk", test::DirectoryData(kRootId));
  folders.AddRecord(100, 11, kRootId, "Docs", test::DirectoryData(kDocsId));
  nodes.push_back(folders.bytes());
  for (std::size_t i = 0; i < files.size(); i += 3) {
    test::NodeBuilder node;
    for (std::size_t k = i; k < std::min(i + 3, files.size()); ++k) {
      const DiscFile& file = files[k];
      const test::FileFields fields{
          .fileId = static_cast<std::uint32_t>(100 + k),
          .dataLength = static_cast<std::uint32_t>(file.data.size()),
          .firstExtentStart = static_cast<std::uint32_t>((starts[k] - format::kAllocationBlock0) / kAllocBlockSize)};
      node.AddRecord(14 + (k - i) * 150, 37, file.folder.empty() ? kRootId : kDocsId, file.name,
                     test::FileData(fields));
    }
    nodes.push_back(node.bytes());
  }
  if (nodes.size() > kCatalogNodeLimit) throw std::length_error("too many files for the test catalogue");
  return nodes;
}

// The HFS volume: boot blocks, the master directory block at byte 1,024, the
// catalogue at allocation block 0, the data forks after it.
std::vector<std::uint8_t> HfsVolume(const std::vector<DiscFile>& files) {
  std::vector<std::size_t> starts;
  std::size_t next = kFirstDataByte;
  // Each file begins a group of its own, so that recovering it reads the disc
  // even after the groups before it were read (the tests hold the worker at
  // a file's first read).
  for (const DiscFile& file : files) {
    starts.push_back(RoundUp(next, kBlocksPerGroup * format::kBlockSize));
    next = RoundUp(starts.back() + file.data.size() + 1, kAllocBlockSize);
  }
  std::vector<std::uint8_t> volume(next, 0);
  std::uint8_t* mdb = volume.data() + format::kMdbVolumeOffset;
  mdb[0] = 'B';
  mdb[1] = 'D';
  PutBe32(mdb + format::kMdbAllocBlockSizeOffset, kAllocBlockSize);
  PutBe16(mdb + format::kMdbAllocBlockStartOffset, format::kAllocationBlock0 / format::kUnitSize);
  PutBe16(mdb + format::kMdbCatalogExtentsOffset + 2, kCatalogNodeLimit);  // blocks 0..7
  std::size_t at = format::kAllocationBlock0;
  for (const auto& node : CatalogNodes(files, starts)) {
    std::memcpy(volume.data() + at, node.data(), node.size());
    at += node.size();
  }
  for (std::size_t k = 0; k < files.size(); ++k) {
    std::memcpy(volume.data() + starts[k], files[k].data.data(), files[k].data.size());
  }
  return volume;
}

}  // namespace

std::vector<std::uint8_t> RecoverableDisc(const std::vector<DiscFile>& files) {
  mkdisc::DiscOptions options;
  options.blocksPerGroup = kBlocksPerGroup;
  std::vector<std::uint8_t> raw;
  mkdisc::DiscLayout layout;
  std::string error;
  if (!mkdisc::BuildDisc(HfsVolume(files), options, raw, layout, error)) throw std::runtime_error(error);
  // The memory disc keeps the user data; it rebuilds the raw sectors on reads.
  std::vector<std::uint8_t> userData;
  userData.reserve(raw.size() / format::kRawSectorSize * format::kUserDataSize);
  for (std::size_t s = 0; s + format::kRawSectorSize <= raw.size(); s += format::kRawSectorSize) {
    const auto user = raw.begin() + static_cast<std::ptrdiff_t>(s + format::kUserDataOffset);
    userData.insert(userData.end(), user, user + static_cast<std::ptrdiff_t>(format::kUserDataSize));
  }
  return userData;
}

}  // namespace kestrow::apptest
