// The catalogue scan and path reconstruction on arbitrary volume images.
//
// The input's first 162 bytes become the master directory block (its "BD"
// signature forced, so that the scan always runs) and the rest the volume
// image from allocation block 0 (image offset 0x6200) on, where the scan
// walks its nodes.
//
// Properties:
// - ListCatalogFiles succeeds, appends to the table and leaves earlier rows alone;
// - a node yields at most 128 files;
// - names keep no carriage return or NUL; the desktop database files are left out;
// - a path ends with ':' and is made of distinct directories' names, so it is
//   never longer than all directory names and their separators together, and
//   never longer than 1,024 bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "volume/CatalogScan.h"
#include "volume/MasterDirectoryBlock.h"
#include "volume/PackedFormat.h"

namespace {

using namespace kestrow;
using fuzz::Require;

constexpr std::size_t kNodeSize = 512;
constexpr std::size_t kMaxRecordsPerNode = 128;

VolumeImage MakeImage(const std::uint8_t* data, std::size_t size) {
  const std::size_t mdbBytes = std::min(size, format::kMdbSize);
  VolumeImage image(format::kCatalogScanOffset, 0);
  std::memcpy(image.data() + format::kMdbOffset, data, mdbBytes);
  image[format::kMdbOffset] = 'B';
  image[format::kMdbOffset + 1] = 'D';
  image.insert(image.end(), data + mdbBytes, data + size);
  return image;
}

FileEntry Sentinel() {
  FileEntry row;
  row.name = "already here";
  row.path = "Disk:";
  row.fileId = 0xDEADBEEF;
  return row;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const VolumeImage image = MakeImage(data, size);
  MasterDirectoryBlock mdb;
  Require(ParseMasterDirectoryBlock(image, mdb), "the master directory block is found");
  Require(mdb.VolumeName().size() <= 27, "a volume name has at most 27 bytes");

  FileTable files{Sentinel()};
  std::size_t lostNodes = 0;
  Require(ListCatalogFiles(image, files, {}, lostNodes), "a catalogue with a master directory block scans");
  Require(!files.empty() && files[0].fileId == 0xDEADBEEF && files[0].name == "already here" &&
              files[0].path == "Disk:",
          "rows already in the table stay as they were");

  const std::size_t nodes = (image.size() - format::kCatalogScanOffset + kNodeSize - 1) / kNodeSize;
  Require(files.size() - 1 <= nodes * kMaxRecordsPerNode, "a node yields at most 128 files");

  const CatalogRecords records = ScanCatalogRecords(image);
  Require(records.files.size() == files.size() - 1, "ListCatalogFiles keeps every file the scan found");
  std::size_t allDirNames = 0;
  for (const DirEntry& dir : records.dirs) {
    Require(dir.name.find('\r') == std::string::npos, "directory names have no carriage return");
    Require(dir.name.find('\0') == std::string::npos, "directory names end at their first NUL");
    allDirNames += dir.name.size() + 1;
  }
  for (std::size_t i = 1; i < files.size(); ++i) {
    const FileEntry& entry = files[i];
    Require(entry.name.find('\r') == std::string::npos, "file names have no carriage return");
    Require(entry.name.find('\0') == std::string::npos, "file names end at their first NUL");
    Require(entry.name != "Desktop DB" && entry.name != "Desktop DF", "desktop files are left out");
    Require(entry.path.empty() || entry.path.back() == ':', "a path ends with ':'");
    Require(entry.path.size() <= allDirNames, "a path names no directory twice");
    Require(entry.path.size() <= 1024, "a path holds at most 1,024 bytes of folder names");
    Require(entry.name == records.files[i - 1].name && entry.fileId == records.files[i - 1].fileId,
            "the table keeps the scan's order");
  }
  return 0;
}
