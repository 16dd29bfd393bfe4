// Ranges of bytes and of sectors, as a salvage reports what it could not
// read: byte ranges end exclusive, sector ranges are inclusive LBAs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kestrow {

struct ByteSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;  // one past the last byte
  bool operator==(const ByteSpan&) const = default;
};

struct SectorSpan {
  std::int32_t first = 0;
  std::int32_t last = 0;  // inclusive
  bool operator==(const SectorSpan&) const = default;
};

// True when [begin, end) shares a byte with one of `spans`.
inline bool Overlaps(const std::vector<ByteSpan>& spans, std::uint64_t begin, std::uint64_t end) {
  return std::any_of(spans.begin(), spans.end(),
                     [&](const ByteSpan& s) { return s.begin < end && begin < s.end; });
}

// Sorts `spans` and joins the ones that overlap or touch.
inline std::vector<ByteSpan> MergeSpans(std::vector<ByteSpan> spans) {
  std::sort(spans.begin(), spans.end(), [](const ByteSpan& a, const ByteSpan& b) { return a.begin < b.begin; });
  std::vector<ByteSpan> merged;
  for (const ByteSpan& s : spans) {
    if (s.end <= s.begin) continue;
    if (!merged.empty() && s.begin <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, s.end);
    } else {
      merged.push_back(s);
    }
  }
  return merged;
}

// The parts of [0, size) that no span of `covered` holds.
inline std::vector<ByteSpan> Uncovered(std::vector<ByteSpan> covered, std::uint64_t size) {
  std::vector<ByteSpan> gaps;
  std::uint64_t at = 0;
  for (const ByteSpan& s : MergeSpans(std::move(covered))) {
    if (s.begin >= size) break;
    if (s.begin > at) gaps.push_back({at, s.begin});
    at = std::max(at, s.end);
  }
  if (at < size) gaps.push_back({at, size});
  return gaps;
}

// Ascending LBAs (duplicates allowed) as runs of consecutive sectors.
inline std::vector<SectorSpan> ToSectorSpans(std::vector<std::int32_t> lbas) {
  std::sort(lbas.begin(), lbas.end());
  std::vector<SectorSpan> spans;
  for (std::int32_t lba : lbas) {
    if (!spans.empty() && std::int64_t{lba} <= std::int64_t{spans.back().last} + 1) {
      spans.back().last = std::max(spans.back().last, lba);
    } else {
      spans.push_back({lba, lba});
    }
  }
  return spans;
}

}  // namespace kestrow
