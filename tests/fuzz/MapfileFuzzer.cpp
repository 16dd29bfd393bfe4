// GNU ddrescue mapfiles: the input is the mapfile's text.
//
// Properties:
// - a map that does not parse is left empty and the reason is given;
// - a map that parses has its finished ranges sorted, non-empty, apart from
//   each other (touching ones are joined) and no more than the blocks listed;
// - IsFinished agrees with the ranges: each range is finished as a whole,
//   the byte after it and the byte before it are not, a range reaching one
//   byte past a range's end is not, and an empty range always is;
// - a rescue map made from it writes a mapfile with the same finished ranges.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "drive/DdrescueMap.h"
#include "rawtools/RescueMap.h"

namespace {

using namespace kestrow;
using fuzz::Require;

void CheckRanges(const DdrescueMap& map) {
  const auto& ranges = map.FinishedRanges();
  Require(ranges.size() <= map.BlockCount(), "no more finished ranges than blocks");
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const DdrescueMap::Range& r = ranges[i];
    Require(r.begin < r.end, "a finished range is not empty");
    if (i > 0) Require(ranges[i - 1].end < r.begin, "finished ranges are sorted and apart");
    Require(map.IsFinished(r.begin, r.end - r.begin), "a finished range is finished");
    Require(map.IsFinished(r.end - 1, 1), "its last byte is finished");
    Require(!map.IsFinished(r.end, 1), "the byte after a range is not finished");
    Require(!map.IsFinished(r.begin, r.end - r.begin + 1), "a range one byte longer is not finished");
    if (r.begin > 0) Require(!map.IsFinished(r.begin - 1, 1), "the byte before a range is not finished");
    Require(map.IsFinished(r.end, 0), "an empty range is finished");
  }
  Require(!map.IsFinished(std::numeric_limits<std::uint64_t>::max(), 2), "a range past 2^64 is not finished");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  DdrescueMap map;
  std::string reason;
  if (!map.Parse(text, reason)) {
    Require(!reason.empty(), "a failed parse says why");
    Require(map.BlockCount() == 0 && map.FinishedRanges().empty(), "a failed parse leaves the map empty");
    return 0;
  }
  CheckRanges(map);
  // Parsing again replaces the map with the same one.
  const auto first = map.FinishedRanges();
  Require(map.Parse(text, reason), "parsing is deterministic");
  Require(map.FinishedRanges().size() == first.size(), "a second parse gives the same ranges");
  DdrescueMap written;
  Require(written.Parse(RescueMap(map).Format(RescuePhase{}), reason), "a rescue map's mapfile parses");
  const auto& again = written.FinishedRanges();
  Require(again.size() == first.size(), "a rescue map keeps the finished ranges");
  for (std::size_t i = 0; i < first.size(); ++i) {
    Require(again[i].begin == first[i].begin && again[i].end == first[i].end, "a rescue map keeps each finished range");
  }
  return 0;
}
