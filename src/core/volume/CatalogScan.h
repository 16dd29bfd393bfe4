// The linear catalogue scan: 512-byte nodes read one after another from
// allocation block 0 of the volume, every node that is neither a B-tree
// header node nor a padding block taken as a node of catalogue records.
#pragma once

#include <span>
#include <vector>

#include "volume/FileEntry.h"

namespace kestrow {

struct CatalogRecords {
  std::vector<DirEntry> dirs;
  FileTable files;
};

// Scans `image` from image offset 0x6200 to its end or to the third header
// node. Records that would reach outside their node are skipped. Files named
// exactly "Desktop DB" or "Desktop DF" are left out. Paths are not built.
CatalogRecords ScanCatalogRecords(std::span<const std::uint8_t> image);

// Names are read as NUL-terminated byte strings with every carriage return
// replaced by '-'.
std::string CatalogName(std::span<const std::uint8_t> bytes);

}  // namespace kestrow
