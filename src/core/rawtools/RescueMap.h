// The state of a rescue in GNU ddrescue's terms: every byte of the image,
// from 0 to the end of the disc, is non-tried ('?'), non-trimmed ('*': in a
// failed read, edges not yet tried alone), non-scraped ('/': inside a failed
// read, not yet tried sector by sector), bad ('-': failed on its own) or
// finished ('+': read and in the image). It is read from and written as a
// ddrescue mapfile, in byte positions.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "drive/DdrescueMap.h"

namespace kestrow {

namespace rescue {
inline constexpr char kNonTried = '?';
inline constexpr char kNonTrimmed = '*';
inline constexpr char kNonScraped = '/';
inline constexpr char kBad = '-';
inline constexpr char kFinished = '+';
}  // namespace rescue

// What the status line and the comment above it say about the run.
struct RescuePhase {
  std::uint64_t position = 0;   // current_pos: where the run is reading
  char status = rescue::kNonTried;  // current_status: ? copying, * trimming, / scraping, - retrying, + finished
  int pass = 1;                 // current_pass
  std::string comment;          // "Copying non-tried blocks... Pass 1 (forwards)"
};

class RescueMap {
 public:
  struct Area {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;  // one past the last byte
    char status = rescue::kNonTried;
  };

  RescueMap() = default;
  // The blocks of a mapfile; what it does not list is non-tried.
  explicit RescueMap(const DdrescueMap& map);

  // Makes the map reach at least `size` bytes, the new part non-tried.
  void Extend(std::uint64_t size);
  std::uint64_t Size() const;

  // Gives [begin, end) (within the map) one status.
  void Set(std::uint64_t begin, std::uint64_t end, char status);
  // The least advanced status among the bytes of [begin, end), in the order
  // ? * / - +; non-tried past the end of the map.
  char StatusOf(std::uint64_t begin, std::uint64_t end) const;
  // The areas that overlap [begin, end), clipped to it, in order.
  std::vector<Area> Areas(std::uint64_t begin, std::uint64_t end) const;
  // Bytes of [begin, end) with this status.
  std::uint64_t BytesWith(char status, std::uint64_t begin, std::uint64_t end) const;

  // The map as a mapfile ddrescue reads.
  std::string Format(const RescuePhase& phase) const;

 private:
  // Keyed by each area's begin; the areas cover [0, Size()) without gaps,
  // and neighbours differ in status.
  std::map<std::uint64_t, Area> m_areas;
};

}  // namespace kestrow
