// A GNU ddrescue mapfile: which byte ranges of a rescued image were read
// well ('+', finished) and which were not ('?' non-tried, '*' non-trimmed,
// '/' non-scraped, '-' bad sector).
//
//   # comment lines
//   0x00120000     ?               1        <- current_pos current_status [current_pass]
//   0x00000000  0x00117000  +               <- pos size status, one line per block
//   0x00117000  0x00000200  -
//
// Numbers are hexadecimal with 0x or decimal. The parser works on text in
// memory and never throws. Blocks may come in any order; overlapping blocks
// are refused. Areas the map does not list count as not finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrow {

class DdrescueMap {
 public:
  struct Range {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;  // one past the last byte
  };
  struct Block {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;  // one past the last byte
    char status = '?';      // one of ?*/-+
  };

  // Replaces the map with the one in `text`. On failure returns false,
  // leaves the map empty and sets `reason` ("line 7: status 'x' is not one
  // of ?*/-+", "no status line").
  bool Parse(std::string_view text, std::string& reason);

  // True only when every byte of [pos, pos + size) lies in finished blocks.
  // An empty range is finished. O(log n) in the number of blocks.
  bool IsFinished(std::uint64_t pos, std::uint64_t size) const;

  // The blocks the map listed, of any status (empty ones are not kept).
  std::size_t BlockCount() const { return m_blocks.size(); }
  // Those blocks, sorted by position, not overlapping (gaps are possible).
  const std::vector<Block>& Blocks() const { return m_blocks; }
  // The finished areas, sorted, adjacent '+' blocks joined into one range.
  const std::vector<Range>& FinishedRanges() const { return m_finished; }

 private:
  std::vector<Block> m_blocks;
  std::vector<Range> m_finished;
};

}  // namespace kestrow
