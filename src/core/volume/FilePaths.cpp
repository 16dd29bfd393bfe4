// Path reconstruction: every file gets the names of its ancestor directories.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "volume/FileEntry.h"

namespace kestrow {
namespace {

// A damaged catalogue can chain tens of thousands of directories; every file
// below such a chain would carry all their names, which takes time and memory
// in proportion to files times depth. A path is cut to this many bytes of
// folder names: the walk stops before the folder that would pass it, as at a
// missing parent, so the innermost folders are kept. Real HFS paths stay far
// below it.
constexpr std::size_t kMaxPathBytes = 1024;

// Directories by ID. When two records carry the same ID, the one the scan met
// first is kept, which is what a search from the start of the list finds.
std::unordered_map<std::uint32_t, const DirEntry*> IndexFirstById(const std::vector<DirEntry>& dirs) {
  std::unordered_map<std::uint32_t, const DirEntry*> index;
  index.reserve(dirs.size());
  for (const DirEntry& dir : dirs) index.emplace(dir.dirId, &dir);
  return index;
}

// The bytes a directory adds to a path: its name up to its first NUL, and ':'.
std::size_t PathBytes(const DirEntry& dir) { return std::strlen(dir.name.c_str()) + 1; }

// Walks up from `parentId`, innermost first. The chain ends at an ID that no
// directory carries, before a directory would be visited twice (a damaged
// catalogue can make the chain loop), or before its names would pass
// kMaxPathBytes.
std::vector<const DirEntry*> AncestorChain(
    std::uint32_t parentId, const std::unordered_map<std::uint32_t, const DirEntry*>& index) {
  std::vector<const DirEntry*> chain;
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t current = parentId;
  std::size_t bytes = 0;
  for (;;) {
    const auto found = index.find(current);
    if (found == index.end() || !visited.insert(current).second) break;
    bytes += PathBytes(*found->second);
    if (bytes > kMaxPathBytes) break;
    chain.push_back(found->second);
    current = found->second->parentId;
  }
  return chain;
}

std::string FolderPath(std::uint32_t parentId, const std::unordered_map<std::uint32_t, const DirEntry*>& index) {
  const auto chain = AncestorChain(parentId, index);
  std::string path;
  for (auto dir = chain.rbegin(); dir != chain.rend(); ++dir) {
    // A name is used up to its first NUL byte.
    path.append((*dir)->name.c_str());
    path.push_back(':');
  }
  return path;
}

}  // namespace

void BuildFilePaths(FileTable& files, const std::vector<DirEntry>& dirs) {
  const auto index = IndexFirstById(dirs);
  // Files of one folder share its path: each folder's is built once.
  std::unordered_map<std::uint32_t, std::string> built;
  for (FileEntry& file : files) {
    auto found = built.find(file.parentId);
    if (found == built.end()) found = built.emplace(file.parentId, FolderPath(file.parentId, index)).first;
    file.path.append(found->second);
  }
}

}  // namespace kestrow
