#include "rawtools/RescueMap.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace kestrow {
namespace {

constexpr std::string_view kProgressOrder = "?*/-+";

int Rank(char status) {
  const std::size_t at = kProgressOrder.find(status);
  return at == std::string_view::npos ? 0 : static_cast<int>(at);
}

}  // namespace

RescueMap::RescueMap(const DdrescueMap& map) {
  std::uint64_t at = 0;
  for (const DdrescueMap::Block& block : map.Blocks()) {
    if (block.begin > at) Set(at, block.begin, rescue::kNonTried);
    Extend(block.end);
    Set(block.begin, block.end, block.status);
    at = block.end;
  }
}

std::uint64_t RescueMap::Size() const { return m_areas.empty() ? 0 : m_areas.rbegin()->second.end; }

void RescueMap::Extend(std::uint64_t size) {
  const std::uint64_t end = Size();
  if (size <= end) return;
  if (!m_areas.empty() && m_areas.rbegin()->second.status == rescue::kNonTried) {
    m_areas.rbegin()->second.end = size;
  } else {
    m_areas[end] = Area{end, size, rescue::kNonTried};
  }
}

void RescueMap::Set(std::uint64_t begin, std::uint64_t end, char status) {
  Extend(end);
  if (begin >= end) return;
  // Split the areas that hold `begin` and `end`, so that whole areas lie inside.
  const auto splitAt = [this](std::uint64_t at) {
    auto it = m_areas.upper_bound(at);
    if (it == m_areas.begin()) return;
    --it;
    Area& area = it->second;
    if (area.begin == at || area.end <= at) return;
    m_areas[at] = Area{at, area.end, area.status};
    area.end = at;
  };
  splitAt(begin);
  splitAt(end);
  m_areas.erase(m_areas.lower_bound(begin), m_areas.lower_bound(end));
  Area joined{begin, end, status};
  // Join the neighbours of the same status.
  auto next = m_areas.find(end);
  if (next != m_areas.end() && next->second.status == status) {
    joined.end = next->second.end;
    m_areas.erase(next);
  }
  auto after = m_areas.lower_bound(begin);
  if (after != m_areas.begin()) {
    auto previous = std::prev(after);
    if (previous->second.status == status) {
      previous->second.end = joined.end;
      return;
    }
  }
  m_areas[begin] = joined;
}

char RescueMap::StatusOf(std::uint64_t begin, std::uint64_t end) const {
  if (end > Size()) return rescue::kNonTried;
  char least = rescue::kFinished;
  for (const Area& area : Areas(begin, end)) {
    if (Rank(area.status) < Rank(least)) least = area.status;
  }
  return least;
}

std::vector<RescueMap::Area> RescueMap::Areas(std::uint64_t begin, std::uint64_t end) const {
  std::vector<Area> areas;
  if (begin >= end) return areas;
  auto it = m_areas.upper_bound(begin);
  if (it != m_areas.begin()) --it;
  for (; it != m_areas.end() && it->second.begin < end; ++it) {
    const Area& area = it->second;
    if (area.end <= begin) continue;
    areas.push_back(Area{std::max(area.begin, begin), std::min(area.end, end), area.status});
  }
  return areas;
}

std::uint64_t RescueMap::BytesWith(char status, std::uint64_t begin, std::uint64_t end) const {
  std::uint64_t bytes = 0;
  for (const Area& area : Areas(begin, end)) {
    if (area.status == status) bytes += area.end - area.begin;
  }
  return bytes;
}

std::string RescueMap::Format(const RescuePhase& phase) const {
  std::string text = "# Mapfile. Created by kestrow dump\n";
  if (!phase.comment.empty()) text += "# " + phase.comment + "\n";
  char line[96];
  std::snprintf(line, sizeof line, "# current_pos  current_status  current_pass\n0x%08llX     %c               %d\n",
                static_cast<unsigned long long>(phase.position), phase.status, phase.pass);
  text += line;
  text += "#      pos        size  status\n";
  for (const auto& [begin, area] : m_areas) {
    std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n", static_cast<unsigned long long>(area.begin),
                  static_cast<unsigned long long>(area.end - area.begin), area.status);
    text += line;
  }
  return text;
}

}  // namespace kestrow
