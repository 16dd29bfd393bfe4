// The directory and file records that the catalogue scan keeps, and the file
// table: one FileEntry per file, in the order the scan met the records.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrow {

struct DirEntry {
  std::uint32_t dirId = 0;     // dirDirID
  std::uint32_t parentId = 0;  // ckrParID of the record's key
  std::string name;            // raw name bytes, carriage returns replaced by '-'
};

struct ExtentDescriptor {
  std::uint32_t startBlock = 0;  // allocation blocks
  std::uint32_t blockCount = 0;
  bool operator==(const ExtentDescriptor&) const = default;
};

struct FileEntry {
  std::uint32_t fileId = 0;              // filFlNum
  std::uint32_t parentId = 0;            // ckrParID
  std::uint32_t dataStartBlock = 0;      // filStBlk
  std::uint32_t dataLogicalLength = 0;   // filLgLen
  std::uint32_t dataPhysicalLength = 0;  // filPyLen
  std::uint32_t rsrcStartBlock = 0;      // filRStBlk
  std::uint32_t rsrcLogicalLength = 0;   // filRLgLen
  std::uint32_t rsrcPhysicalLength = 0;  // filRPyLen
  std::uint32_t createDate = 0;          // filCrDat, HFS seconds since 1904-01-01, as stored
  std::uint32_t modifyDate = 0;          // filMdDat
  std::uint32_t backupDate = 0;          // filBkDat
  std::uint32_t clumpSize = 0;           // filClpSize (16-bit on disc)
  std::array<ExtentDescriptor, 3> dataExtents{};  // filExtRec
  std::array<ExtentDescriptor, 3> rsrcExtents{};  // filRExtRec
  // The forks' further extents, from the extents overflow file, in fork
  // order; empty when the three above hold the whole fork (or the overflow
  // file could not be read).
  std::vector<ExtentDescriptor> dataOverflowExtents;
  std::vector<ExtentDescriptor> rsrcOverflowExtents;
  std::string path;   // ancestor folder names, outermost first, each followed by ':'
  std::string name;   // raw name bytes, carriage returns replaced by '-'
  std::array<char, 5> fileType{};  // fdType, 4 bytes as stored and a NUL
  std::array<char, 5> creator{};   // fdCreator, 4 bytes as stored and a NUL
  // The Finder's record of the file as stored: filUsrWds (type, creator,
  // flags, location, folder) and filFndrInfo (the extended Finder info).
  std::array<std::uint8_t, 16> finderInfo{};
  std::array<std::uint8_t, 16> extendedFinderInfo{};
  // The record lies in a catalogue node that the node map marks free: a
  // file deleted from the volume, or a stale copy of a record.
  bool deleted = false;

  // The same record: every field alike.
  bool operator==(const FileEntry&) const = default;

  // The path immediately followed by the name, as the file list shows it.
  std::string DisplayPath() const { return path + name; }
  // Size shown in the list: both forks, added in 32 bits as a signed number.
  std::int32_t ApproxSize() const {
    return static_cast<std::int32_t>(dataLogicalLength + rsrcLogicalLength);
  }
};

using FileTable = std::vector<FileEntry>;

// Gives every row of `files` the chain of its ancestor directories' names,
// outermost first, each followed by ':'. When two directories share an ID the
// first in `dirs` wins; a missing parent ends the chain; a looping chain ends
// before a directory would be named twice; a chain whose names would take
// more than 1,024 bytes keeps only its innermost folders that fit.
void BuildFilePaths(FileTable& files, const std::vector<DirEntry>& dirs);

}  // namespace kestrow
