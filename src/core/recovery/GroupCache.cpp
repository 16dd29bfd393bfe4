#include "recovery/GroupCache.h"

#include <algorithm>
#include <utility>

namespace kestrow {

namespace {

std::vector<std::vector<int>> SetsOf(const std::vector<GroupSpan>& spans) {
  std::vector<std::vector<int>> sets(spans.size());
  for (std::size_t i = 0; i < spans.size(); ++i) {
    for (int group = spans[i].first; group <= spans[i].last; ++group) sets[i].push_back(group);
  }
  return sets;
}

}  // namespace

GroupCache::GroupCache(const std::vector<GroupSpan>& spans, std::size_t budgetBytes)
    : GroupCache(SetsOf(spans), budgetBytes) {}

GroupCache::GroupCache(std::vector<std::vector<int>> sets, std::size_t budgetBytes)
    : m_sets(std::move(sets)), m_budget(budgetBytes) {
  for (std::size_t file = 0; file < m_sets.size(); ++file) {
    for (const int group : m_sets[file]) {
      if (group < 0) continue;
      if (m_lastUse.size() <= static_cast<std::size_t>(group)) {
        m_lastUse.resize(static_cast<std::size_t>(group) + 1, kNever);
      }
      m_lastUse[static_cast<std::size_t>(group)] = file;
    }
  }
}

SharedGroup GroupCache::Take(int group) {
  const auto kept = m_kept.find(group);
  if (kept == m_kept.end()) return nullptr;
  SharedGroup buffer = std::move(kept->second.buffer);
  m_kept.erase(kept);
  m_keptBytes -= buffer->size();
  return buffer;
}

std::size_t GroupCache::NextUse(int group, std::size_t fileIndex) const {
  if (group < 0 || static_cast<std::size_t>(group) >= m_lastUse.size()) return kNever;
  const std::size_t last = m_lastUse[static_cast<std::size_t>(group)];
  if (last == kNever || last <= fileIndex) return kNever;
  // Some file up to `last` needs it; the scan stops at the first one.
  for (std::size_t file = fileIndex + 1; file < last; ++file) {
    if (std::binary_search(m_sets[file].begin(), m_sets[file].end(), group)) return file;
  }
  return last;
}

void GroupCache::Return(int group, SharedGroup buffer, std::size_t fileIndex) {
  const std::size_t use = NextUse(group, fileIndex);
  if (!buffer || use == kNever || buffer->size() > m_budget || m_kept.count(group) != 0) return;
  while (m_keptBytes + buffer->size() > m_budget) {
    auto farthest = m_kept.begin();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
      if (it->second.nextUse > farthest->second.nextUse) farthest = it;
    }
    if (farthest == m_kept.end() || farthest->second.nextUse <= use) return;  // let this one go instead
    m_keptBytes -= farthest->second.buffer->size();
    m_kept.erase(farthest);
  }
  m_keptBytes += buffer->size();
  m_kept.emplace(group, Kept{std::move(buffer), use});
}

}  // namespace kestrow
