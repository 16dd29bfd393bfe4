// The sector groups a recovery job has read and will need again.
//
// The job knows before its first file which groups every file needs. A group
// that a file has used is kept only while a later file of the job needs it,
// and the groups kept never take more than a budget of bytes: when one more
// would not fit, the group whose next use lies farthest ahead is let go (it
// is read again when that use comes). The cache never reads anything itself.
// A group is shared, read-only, with the decoders that still decode blocks
// of it.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

#include "recovery/ExtractRange.h"

namespace kestrow {

using SharedGroup = std::shared_ptr<const GroupBuffer>;

// The groups first..last that one file needs; empty (last < first) for a
// file that needs none.
struct GroupSpan {
  int first = 0;
  int last = -1;
  bool Empty() const { return last < first; }
};

class GroupCache {
 public:
  // `sets` holds one entry per use (a file, or a fork of it) in job order:
  // the groups it needs, ascending, each once.
  GroupCache(std::vector<std::vector<int>> sets, std::size_t budgetBytes);
  // The same, for uses that each need one run of groups.
  GroupCache(const std::vector<GroupSpan>& spans, std::size_t budgetBytes);

  bool Holds(int group) const { return m_kept.count(group) != 0; }
  // The buffer of `group` when it is kept (no longer kept), else null.
  SharedGroup Take(int group);

  // Gives back a group that file `fileIndex` has used: kept when a later file
  // needs it and the budget allows, dropped otherwise.
  void Return(int group, SharedGroup buffer, std::size_t fileIndex);

  std::size_t KeptBytes() const { return m_keptBytes; }
  std::size_t KeptGroups() const { return m_kept.size(); }

 private:
  static constexpr std::size_t kNever = static_cast<std::size_t>(-1);

  struct Kept {
    SharedGroup buffer;
    std::size_t nextUse = kNever;  // the next file that needs the group
  };

  // The first file after `fileIndex` that needs `group`, or kNever.
  std::size_t NextUse(int group, std::size_t fileIndex) const;

  std::vector<std::vector<int>> m_sets;
  std::vector<std::size_t> m_lastUse;  // by group: the last file that needs it, or kNever
  std::map<int, Kept> m_kept;
  std::size_t m_budget;
  std::size_t m_keptBytes = 0;
};

}  // namespace kestrow
