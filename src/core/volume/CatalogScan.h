// The linear catalogue scan: 512-byte nodes read one after another from
// allocation block 0 of the volume, every node that is neither a B-tree
// header node nor a padding block taken as a node of catalogue records.
#pragma once

#include <span>
#include <vector>

#include "Spans.h"
#include "volume/FileEntry.h"
#include "volume/VolumeImage.h"

namespace kestrow {

struct CatalogRecords {
  std::vector<DirEntry> dirs;
  FileTable files;
  std::size_t lostNodes = 0;  // nodes in use (or perhaps in use) passed over: bytes of them could not be read
  // Records of nodes that the catalogue's node map marks free, files whose
  // ID no live record has, each ID once; marked deleted.
  std::vector<DirEntry> deletedDirs;
  FileTable deletedFiles;
  // The catalogue's header node was found: only its leaf nodes were read.
  bool treeKnown = false;
};

// Scans `image` from image offset 0x6200 to its end or to the third header
// node. Records that would reach outside their node are skipped. Files named
// exactly "Desktop DB" or "Desktop DF" are left out. Paths are not built.
// A file ID met twice is kept once (the first), so that the file list grows
// with the catalogue's distinct files, not with copies of one record.
// A node that shares a byte with `unreadable` (image offsets of bytes that
// could not be read and are zeros) is passed over, and counted as lost when
// it may have held records in use.
// When the master directory block's catalogue extents lead to a readable
// header node, records are taken only from the catalogue file's leaf nodes,
// those of nodes its map marks free go to the deleted lists, and only nodes
// of the catalogue that its map marks in use count as lost. Otherwise every
// node that is neither a header nor a padding node is read as one of
// records, and every unreadable node counts as lost.
CatalogRecords ScanCatalogRecords(std::span<const std::uint8_t> image,
                                  const std::vector<ByteSpan>& unreadable = {});

// The catalogue's files: appends one row per file record of `image` to
// `files`, then fills every path. The nodes that `unreadable` bytes (read as
// zeros) touch are passed over and counted in `lostNodes`. With
// `includeDeleted`, the files of catalogue nodes the node map marks free
// follow the live ones, marked deleted. Every fork gets the extents the
// extents overflow file holds for it. False, with `files` untouched, when
// the image holds no master directory block or ends before the catalogue.
bool ListCatalogFiles(const VolumeImage& image, FileTable& files, const std::vector<ByteSpan>& unreadable,
                      std::size_t& lostNodes, bool includeDeleted = false);

// Names are read as NUL-terminated byte strings with every carriage return
// replaced by '-'.
std::string CatalogName(std::span<const std::uint8_t> bytes);

}  // namespace kestrow
