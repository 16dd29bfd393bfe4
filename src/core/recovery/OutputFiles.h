// Writing a recovered file under the destination folder: its folders from
// the catalogue path, a name the file system accepts, the data file, and the
// 82-byte AppleDouble companion "._NAME" that keeps its type and creator.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recovery/OutputNames.h"
#include "volume/FileEntry.h"

namespace kestrow {

inline constexpr std::size_t kCompanionSize = 82;

// Replaces each of \ / : * ? < > | by '-'. A name that would not name a
// file inside its folder (empty, "." or "..") becomes one made of '-'.
void SanitizeName(std::string& name);

// Appends each ':'-terminated folder of `folderPath` (sanitized) and a
// separator to `base`, creating every folder in turn. Text after the last
// ':' is not used. Paths of any length are kept whole.
void CreateFolderPath(std::string& base, const std::string& folderPath);

// The AppleDouble version 2 header: Finder info with type and creator, and
// an empty resource fork entry.
std::array<std::uint8_t, kCompanionSize> MakeAppleDoubleHeader(const FileEntry& entry);

struct OutputResult {
  bool dataWritten = false;       // the data file was created, written in full and closed
  bool companionWritten = false;  // likewise for the companion file
  std::string dataPath;           // where the data file was (or would have been) written
  std::string error;              // why the data file was not written, for the user
};

// Writes the data file, then the companion file (also when the data file
// failed). A data file that cannot be written in full is removed again.
// On Windows, folder and file names are the characters of the disc's
// Windows-1252 bytes made safe by WindowsSafeName instead of SanitizeName,
// and the companion is hidden.
// `destFolder` ends with a path separator. With `names`, a name another file
// of the same job has already used gets a number (see OutputNames).
OutputResult WriteOutputFiles(const FileEntry& entry, std::span<const std::uint8_t> data,
                              const std::string& destFolder, OutputNames* names = nullptr);
inline OutputResult WriteOutputFiles(const FileEntry& entry, const std::vector<std::uint8_t>& data,
                                     const std::string& destFolder, OutputNames* names = nullptr) {
  return WriteOutputFiles(entry, std::span<const std::uint8_t>(data), destFolder, names);
}

// The platform's path separator ('\\' on Windows, '/' elsewhere).
char PathSeparator();

}  // namespace kestrow
