// Path reconstruction: every file gets the names of its ancestor directories.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "volume/FileEntry.h"

namespace kestrow {
namespace {

// Directories by ID. When two records carry the same ID, the one the scan met
// first is kept, which is what a search from the start of the list finds.
std::unordered_map<std::uint32_t, const DirEntry*> IndexFirstById(const std::vector<DirEntry>& dirs) {
  std::unordered_map<std::uint32_t, const DirEntry*> index;
  index.reserve(dirs.size());
  for (const DirEntry& dir : dirs) index.emplace(dir.dirId, &dir);
  return index;
}

// Walks up from `parentId`, innermost first. The chain ends at an ID that no
// directory carries, or before a directory would be visited twice (a damaged
// catalogue can make the chain loop).
std::vector<const DirEntry*> AncestorChain(
    std::uint32_t parentId, const std::unordered_map<std::uint32_t, const DirEntry*>& index) {
  std::vector<const DirEntry*> chain;
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t current = parentId;
  for (;;) {
    const auto found = index.find(current);
    if (found == index.end() || !visited.insert(current).second) break;
    chain.push_back(found->second);
    current = found->second->parentId;
  }
  return chain;
}

}  // namespace

void BuildFilePaths(FileTable& files, const std::vector<DirEntry>& dirs) {
  const auto index = IndexFirstById(dirs);
  for (FileEntry& file : files) {
    const auto chain = AncestorChain(file.parentId, index);
    for (auto dir = chain.rbegin(); dir != chain.rend(); ++dir) {
      // A name is used up to its first NUL byte.
      const std::string& name = (*dir)->name;
      file.path.append(name.c_str());
      file.path.push_back(':');
    }
  }
}

}  // namespace kestrow
